#include "ui/MuLevelMeter.h"

#include <QPainter>

#include <cmath>

namespace {
// The panel's white behind the rounded ends, and the volume slider's colours: its groove and
// its filled part.
const QColor backdropColor(255, 255, 255);
const QColor grooveColor(245, 247, 250);
const QColor fillColor(255, 215, 0);
constexpr double kRadius = 2.0;
constexpr int kMaxLevel = 255;
} // namespace

MuLevelMeter::MuLevelMeter(QWidget* parent) : QWidget(parent)
{
    // The meter paints its backdrop itself: twenty repaints a second then cost only its own
    // pixels, not the styled panel underneath as well.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
}

double MuLevelMeter::fractionOf(int level)
{
    if (level <= 0)
        return 0.0;
    const double db = 20.0 * std::log10(static_cast<double>(qMin(level, kMaxLevel)) / kMaxLevel);
    return qBound(0.0, (db - kFloorDb) / -kFloorDb, 1.0);
}

void MuLevelMeter::setLevel(int level)
{
    if (m_suppressed)
        return;
    // Nobody sees it: no work at all.
    if (!isVisible() || window()->isMinimized())
        return;
    showFraction(qMax(fractionOf(level), m_shown - kFallPerReport));
}

void MuLevelMeter::setSuppressed(bool suppressed)
{
    m_suppressed = suppressed;
    if (suppressed)
        clear();
}

void MuLevelMeter::clear()
{
    showFraction(0.0);
}

void MuLevelMeter::showFraction(double fraction)
{
    fraction = qBound(0.0, fraction, 1.0);
    const int before = qRound(m_shown * width());
    m_shown = fraction;
    if (qRound(m_shown * width()) != before)
        update();
}

void MuLevelMeter::paintEvent(QPaintEvent*)
{
    const qreal ratio = devicePixelRatioF();
    if (m_empty.isNull() || m_empty.size() != size() * ratio) {
        // Drawn once per size: a repaint then only copies pixels, no rounded paths.
        m_empty = barPixmap(0, ratio);
        m_full = barPixmap(width(), ratio);
    }
    QPainter painter(this);
    painter.drawPixmap(0, 0, m_empty);
    const int filled = qRound(m_shown * width());
    if (filled <= 0)
        return;
    // The filled bar's left part, then its rounded right end.
    const int end = qMin(filled, static_cast<int>(std::ceil(kRadius)));
    const int body = filled - end;
    const auto source = [ratio, this](int x, int w) {
        return QRectF(x * ratio, 0, w * ratio, height() * ratio);
    };
    painter.drawPixmap(QRectF(0, 0, body, height()), m_full, source(0, body));
    painter.drawPixmap(QRectF(body, 0, end, height()), m_full, source(width() - end, end));
}

QPixmap MuLevelMeter::barPixmap(int filled, qreal ratio) const
{
    QPixmap pixmap(size() * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(backdropColor);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(grooveColor);
    painter.drawRoundedRect(rect(), kRadius, kRadius);
    if (filled > 0) {
        painter.setBrush(fillColor);
        painter.drawRoundedRect(QRectF(0, 0, filled, height()), kRadius, kRadius);
    }
    return pixmap;
}
