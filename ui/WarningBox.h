#pragma once

#include <QString>

// Modal "温馨提示" box with a single "确定" button; returns once the user dismissed it.
void showWarning(const QString& text);
