#pragma once

#include <QString>

// Reversible scrambling of a stored password: UTF-8 bytes XOR two fixed ASCII keys, carried as
// Base64. decode=false scrambles, decode=true unscrambles. An empty text stays empty; a stored
// value that is not valid Base64 or does not unscramble to valid UTF-8 gives an empty text.
QString scrambleText(const QString& text, bool decode);
