#include "ui/MuLevelMeter.h"

#include <QPainter>

#include <cmath>

namespace {
// The volume slider's colours: its groove and its filled part.
const QColor grooveColor(245, 247, 250);
const QColor fillColor(255, 215, 0);
constexpr double kRadius = 2.0;
constexpr int kMaxLevel = 255;
} // namespace

MuLevelMeter::MuLevelMeter(QWidget* parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
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
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(grooveColor);
    painter.drawRoundedRect(rect(), kRadius, kRadius);
    const int filled = qRound(m_shown * width());
    if (filled > 0) {
        painter.setBrush(fillColor);
        painter.drawRoundedRect(QRectF(0, 0, filled, height()), kRadius, kRadius);
    }
}
