#pragma once

#include <QColor>
#include <QImage>
#include <QSize>

// The program's pictures, drawn with QPainter in one palette: gold rgb(255, 215, 0), white and a
// dark ink, rounded shapes, a microphone with sound waves as the voice motif. Every function
// draws at the pixel size it is given, so pictures that the forms scale down are simply drawn
// larger (the forms' style sheets stretch them onto the widget).
class Artwork
{
public:
    enum class Glyph
    {
        Minimise,
        Close
    };

    static const QColor gold;
    static const QColor ink;

    // The brand mark: a gold rounded square with a dark microphone and white sound waves.
    // Below 32 pixels the waves are left out so the microphone stays readable.
    static QImage logo(int side);

    // The lettering "Tavio" in rounded geometric strokes, dark with a gold dot over the "i",
    // left-aligned and vertically centred in the canvas.
    static QImage lettering(const QSize& size);

    // The login window's background: a warm gold-to-white card with soft rings behind the
    // logo, corners rounded with the given radius and transparent outside.
    static QImage loginBackground(const QSize& size, int cornerRadius);

    // A title-bar button glyph on an optional rounded plate (an invalid plate colour draws none).
    static QImage windowButton(Glyph glyph, const QColor& glyphColour, const QColor& plateColour, int side);

    // The drop-down's down-pointing chevron.
    static QImage dropDownArrow(const QColor& colour, int side);

    // A microphone glyph for the mute button; muted adds a slash cut out of the glyph.
    static QImage microphone(const QColor& colour, bool muted, int side);
};
