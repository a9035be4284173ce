#pragma once

#include <QDialog>
#include <QSharedPointer>

class QLabel;
class VMonLayer;

// White confirmation box of the voice panel: one or two centred lines and an OK button. While
// it is open the panel is dimmed by its overlay; a box shown with returnToLogin emits
// sigToLogin as soon as it is hidden, however it was dismissed.
class MuMsgboxEx : public QDialog
{
    Q_OBJECT

public:
    explicit MuMsgboxEx(QWidget* parent = nullptr);

    void setOverlay(const QSharedPointer<VMonLayer>& overlay);
    void showMessage(const QString& text, bool returnToLogin);
    void showMessage2(const QString& line1, const QString& line2, bool returnToLogin);

    bool returnsToLogin() const { return m_returnToLogin; }

signals:
    void sigToLogin();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void showLines(const QString& line1, int line1Y, const QString& line2, bool returnToLogin);

    QSharedPointer<VMonLayer> m_overlay;
    bool m_returnToLogin = false;
    QLabel* m_line1 = nullptr;
    QLabel* m_line2 = nullptr;
};
