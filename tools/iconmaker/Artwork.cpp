#include "Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>

const QColor Artwork::gold(255, 215, 0);
const QColor Artwork::ink(51, 51, 51);

namespace {

// Design grids: glyphs are laid out on a fixed unit grid and scaled to the requested size.
constexpr qreal kMicGrid = 24.0;
constexpr qreal kLogoGrid = 100.0;
constexpr qreal kButtonGrid = 20.0;
constexpr qreal kArrowGrid = 16.0;

// The logo is mostly shown scaled far down (384 onto 52 pixels, sampled without area
// averaging), so its strokes are bolder than the icons' to keep them whole at that size.
constexpr qreal kLogoMicStroke = 2.5;
constexpr qreal kLogoWaveStroke = 6.0;
// Small icons (below 32 pixels) show the microphone alone, larger and bolder still.
constexpr qreal kSmallLogoMicStroke = 2.9;
constexpr qreal kTinyLogoSide = 16.0;

QImage transparentCanvas(const QSize& size)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void beginSmooth(QPainter& painter)
{
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
}

QPen roundPen(const QColor& colour, qreal width)
{
    return QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The slash of the muted microphone on the 24-unit grid.
const QLineF kMuteSlash(4.0, 3.0, 20.0, 21.0);

// The part of the 24-unit grid above and to the right of the slash: a muted capsule keeps only
// this side, so no splinter of it is left stranded below the slash.
QPainterPath aboveMuteSlash()
{
    const QPointF along = (kMuteSlash.p2() - kMuteSlash.p1()) / kMuteSlash.length();
    const QPointF normal(along.y(), -along.x());
    const QPointF start = kMuteSlash.p1() - along * 10.0;
    const QPointF end = kMuteSlash.p2() + along * 10.0;
    QPainterPath side;
    side.addPolygon(QPolygonF({start, end, end + normal * 40.0, start + normal * 40.0}));
    return side;
}

// The microphone on the 24-unit grid: capsule, holder, stem and foot.
void drawMicrophoneGlyph(QPainter& painter, const QColor& colour, bool muted, qreal strokeWidth = 2.0)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    QPainterPath capsule;
    capsule.addRoundedRect(QRectF(8.5, 2.5, 7.0, 12.0), 3.5, 3.5);
    painter.drawPath(muted ? capsule.intersected(aboveMuteSlash()) : capsule);

    QPainterPath holder;
    holder.moveTo(5.5, 9.0);
    holder.lineTo(5.5, 10.5);
    holder.arcTo(QRectF(5.5, 4.0, 13.0, 13.0), 180.0, 180.0);
    holder.lineTo(18.5, 9.0);
    holder.moveTo(12.0, 17.0);
    holder.lineTo(12.0, 20.5);
    holder.moveTo(8.5, 20.5);
    holder.lineTo(15.5, 20.5);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(roundPen(colour, strokeWidth));
    painter.drawPath(holder);

    if (muted) {
        // Cut a gap around the slash first so it stays apart from the glyph.
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setPen(roundPen(Qt::black, 4.6));
        painter.drawLine(kMuteSlash);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setPen(roundPen(colour, 2.0));
        painter.drawLine(kMuteSlash);
    }
}

// The microphone for the 16-pixel icon, laid on whole pixels so it stays sharp: capsule,
// one-pixel holder, two-pixel stem and a foot.
void drawTinyMicrophone(QPainter& painter, const QColor& colour)
{
    painter.setPen(Qt::NoPen);
    painter.setBrush(colour);
    painter.drawRoundedRect(QRectF(6.0, 2.0, 4.0, 7.0), 2.0, 2.0);
    painter.drawRect(QRectF(7.0, 11.0, 2.0, 2.0));
    painter.drawRect(QRectF(5.0, 13.0, 6.0, 1.0));
    QPainterPath holder;
    holder.moveTo(4.5, 6.0);
    holder.lineTo(4.5, 7.0);
    holder.arcTo(QRectF(4.5, 3.5, 7.0, 7.0), 180.0, 180.0);
    holder.lineTo(11.5, 6.0);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(colour, 1.0, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    painter.drawPath(holder);
}

// The stroked skeleton of "Tavio" in design units (stroke width 7, baseline y = 40,
// x-height 22, cap height 32), with the dot of the "i" returned separately.
QPainterPath letteringSkeleton(QPointF& dotCentre, qreal& dotRadius)
{
    constexpr qreal half = 3.5; // half the stroke width
    constexpr qreal xTop = 18.0 + half;
    constexpr qreal base = 40.0 - half;
    constexpr qreal bowlY = 29.0;
    constexpr qreal bowlR = 11.0 - half;

    QPainterPath path;
    // T
    path.moveTo(half, 8.0 + half);
    path.lineTo(26.0, 8.0 + half);
    path.moveTo(13.0 + half / 2, 8.0 + half);
    path.lineTo(13.0 + half / 2, base);
    // a (single storey: bowl and right stem), tucked under the bar of the T
    const qreal aX = 36.0;
    path.addEllipse(QPointF(aX, bowlY), bowlR, bowlR);
    path.moveTo(aX + bowlR, xTop);
    path.lineTo(aX + bowlR, base);
    // v
    const qreal vX = aX + bowlR + half + 4.5 + half;
    path.moveTo(vX, xTop);
    path.lineTo(vX + 8.0, base);
    path.lineTo(vX + 16.0, xTop);
    // i
    const qreal iX = vX + 16.0 + half + 4.5 + half;
    path.moveTo(iX, xTop);
    path.lineTo(iX, base);
    dotCentre = QPointF(iX, 9.5);
    dotRadius = 4.6;
    // o
    const qreal oX = iX + half + 4.5 + half + bowlR;
    path.addEllipse(QPointF(oX, bowlY), bowlR, bowlR);
    return path;
}

void drawWindowGlyph(QPainter& painter, Artwork::Glyph glyph, const QColor& colour)
{
    painter.setPen(roundPen(colour, 1.6));
    if (glyph == Artwork::Glyph::Minimise) {
        painter.drawLine(QPointF(5.5, 10.0), QPointF(14.5, 10.0));
    } else {
        painter.drawLine(QPointF(6.0, 6.0), QPointF(14.0, 14.0));
        painter.drawLine(QPointF(14.0, 6.0), QPointF(6.0, 14.0));
    }
}

} // namespace

QImage Artwork::logo(int side)
{
    QImage image = transparentCanvas(QSize(side, side));
    QPainter painter(&image);
    beginSmooth(painter);
    painter.scale(side / kLogoGrid, side / kLogoGrid);

    // Gold plate, a touch deeper towards the bottom right so the white waves keep contrast.
    const QRectF plate(2.0, 2.0, 96.0, 96.0);
    QLinearGradient fill(plate.topLeft(), plate.bottomRight());
    fill.setColorAt(0.0, QColor(255, 228, 77));
    fill.setColorAt(0.5, gold);
    fill.setColorAt(1.0, QColor(255, 178, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(plate, 24.0, 24.0);

    if (side <= kTinyLogoSide) {
        painter.resetTransform();
        painter.scale(side / kTinyLogoSide, side / kTinyLogoSide);
        drawTinyMicrophone(painter, ink);
        return image;
    }

    const bool detailed = side >= 32;
    const qreal micScale = detailed ? 2.3 : 3.1;
    const qreal micSide = kMicGrid * micScale;
    painter.save();
    painter.translate((kLogoGrid - micSide) / 2.0, (kLogoGrid - micSide) / 2.0);
    painter.scale(micScale, micScale);
    drawMicrophoneGlyph(painter, ink, false, detailed ? kLogoMicStroke : kSmallLogoMicStroke);
    painter.restore();

    if (detailed) {
        // Sound waves on both sides of the capsule.
        const QPointF centre(50.0, 50.0 - micSide / 2.0 + micScale * 8.5);
        const qreal spanDeg = 64.0;
        int ring = 0;
        for (const qreal radius : {23.0, 34.0}) {
            QColor wave(Qt::white);
            wave.setAlpha(ring == 0 ? 255 : 190);
            painter.setPen(roundPen(wave, kLogoWaveStroke));
            const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
            painter.drawArc(box, int(-spanDeg / 2 * 16), int(spanDeg * 16));
            painter.drawArc(box, int((180.0 - spanDeg / 2) * 16), int(spanDeg * 16));
            ++ring;
        }
    }
    return image;
}

QImage Artwork::lettering(const QSize& size)
{
    QPointF dotCentre;
    qreal dotRadius = 0;
    const QPainterPath skeleton = letteringSkeleton(dotCentre, dotRadius);
    constexpr qreal strokeWidth = 7.0;
    const QRectF inkBox = skeleton.boundingRect()
                              .adjusted(-strokeWidth / 2, -strokeWidth / 2, strokeWidth / 2, strokeWidth / 2)
                              .united(QRectF(dotCentre.x() - dotRadius, dotCentre.y() - dotRadius,
                                             2 * dotRadius, 2 * dotRadius));

    QImage image = transparentCanvas(size);
    QPainter painter(&image);
    beginSmooth(painter);
    const qreal margin = size.height() * 0.06;
    const qreal scale = std::min((size.width() - 2 * margin) / inkBox.width(),
                                 (size.height() - 2 * margin) / inkBox.height());
    painter.translate(margin, (size.height() - inkBox.height() * scale) / 2.0);
    painter.scale(scale, scale);
    painter.translate(-inkBox.topLeft());

    painter.setPen(roundPen(ink, strokeWidth));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(skeleton);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 190, 0));
    painter.drawEllipse(dotCentre, dotRadius, dotRadius);
    return image;
}

QImage Artwork::loginBackground(const QSize& size, int cornerRadius)
{
    QImage image = transparentCanvas(size);
    QPainter painter(&image);
    beginSmooth(painter);
    const QRectF card(QPointF(0, 0), QSizeF(size));
    QPainterPath outline;
    outline.addRoundedRect(card, cornerRadius, cornerRadius);
    painter.setClipPath(outline);

    // Warm gold at the top fading to a soft off-white where the fields sit, so the white
    // fields and the gold button both stand out.
    QLinearGradient wash(0, 0, 0, size.height());
    wash.setColorAt(0.0, QColor(255, 238, 166));
    wash.setColorAt(0.30, QColor(255, 248, 222));
    wash.setColorAt(0.55, QColor(250, 249, 245));
    wash.setColorAt(1.0, QColor(246, 246, 248));
    painter.fillRect(card, wash);

    // Soft gold glows in the corners of the header.
    const auto glow = [&painter](const QPointF& centre, qreal radius, int alpha) {
        QRadialGradient light(centre, radius);
        light.setColorAt(0.0, QColor(255, 215, 0, alpha));
        light.setColorAt(1.0, QColor(255, 215, 0, 0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(light);
        painter.drawEllipse(centre, radius, radius);
    };
    glow(QPointF(size.width() * 0.95, -size.height() * 0.05), size.width() * 0.45, 110);
    glow(QPointF(size.width() * 0.02, size.height() * 0.12), size.width() * 0.30, 70);

    // Sound rings spreading from behind the logo, faint enough not to fight the lettering.
    const QPointF ringCentre(size.width() * 0.387, size.height() * 0.175);
    for (int ring = 1; ring <= 5; ++ring) {
        QColor line(Qt::white);
        line.setAlpha(150 - ring * 22);
        painter.setPen(QPen(line, 1.5));
        painter.setBrush(Qt::NoBrush);
        const qreal radius = 34.0 + ring * 22.0;
        painter.drawEllipse(ringCentre, radius, radius);
    }
    return image;
}

QImage Artwork::windowButton(Glyph glyph, const QColor& glyphColour, const QColor& plateColour, int side)
{
    QImage image = transparentCanvas(QSize(side, side));
    QPainter painter(&image);
    beginSmooth(painter);
    painter.scale(side / kButtonGrid, side / kButtonGrid);
    if (plateColour.isValid()) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(plateColour);
        painter.drawRoundedRect(QRectF(0, 0, kButtonGrid, kButtonGrid), 5.0, 5.0);
    }
    drawWindowGlyph(painter, glyph, glyphColour);
    return image;
}

QImage Artwork::dropDownArrow(const QColor& colour, int side)
{
    QImage image = transparentCanvas(QSize(side, side));
    QPainter painter(&image);
    beginSmooth(painter);
    painter.scale(side / kArrowGrid, side / kArrowGrid);
    painter.setPen(roundPen(colour, 1.6));
    const QPointF chevron[] = {{4.0, 6.0}, {8.0, 10.0}, {12.0, 6.0}};
    painter.drawPolyline(chevron, 3);
    return image;
}

QImage Artwork::microphone(const QColor& colour, bool muted, int side)
{
    QImage image = transparentCanvas(QSize(side, side));
    QPainter painter(&image);
    beginSmooth(painter);
    painter.scale(side / kMicGrid, side / kMicGrid);
    drawMicrophoneGlyph(painter, colour, muted);
    return image;
}
