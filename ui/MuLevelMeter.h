#pragma once

#include <QPixmap>
#include <QWidget>

// The captured level under the volume slider: a bar in the slider's gold on its groove colour.
// It follows the loudest sample of each report at once and falls back by kFallPerReport, so a
// short peak stays visible for a moment. Flat while suppressed (muted, banned) and after
// clear(); reports that arrive while the window is hidden or minimised are dropped unpainted.
class MuLevelMeter : public QWidget
{
    Q_OBJECT

public:
    // The scale: kFloorDb (dBFS) at the left end, 0 dBFS at the right.
    static constexpr double kFloorDb = -48.0;
    // The bar falls by this share of the scale per report (20 reports a second: the whole
    // scale in one second).
    static constexpr double kFallPerReport = 0.05;

    explicit MuLevelMeter(QWidget* parent = nullptr);

    // A captured level, 0..255 linear in amplitude (the SDK's volume indication).
    void setLevel(int level);
    // Muted or banned: flat, and levels are ignored until released.
    void setSuppressed(bool suppressed);
    // Flat now (the capture stopped).
    void clear();

    // Share of the scale the bar fills, 0..1.
    double shownFraction() const { return m_shown; }
    // Where a level lands on the scale, 0..1.
    static double fractionOf(int level);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void showFraction(double fraction);
    // The bar at this widget's size, filled up to filled pixels, on the panel's backdrop.
    QPixmap barPixmap(int filled, qreal ratio) const;

    double m_shown = 0.0;
    bool m_suppressed = false;
    QPixmap m_empty;
    QPixmap m_full;
};
