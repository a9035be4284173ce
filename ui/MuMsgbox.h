#pragma once

#include <QWidget>

class QLabel;

// The toast of the login window: a dark one-line label that centres itself on its parent
// and hides itself one second after each message.
class MuMsgbox : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kHideDelayMs = 1000;

    explicit MuMsgbox(QWidget* parent = nullptr);

    void showMsg(const QString& text);
    QString text() const;

private:
    QLabel* m_label = nullptr;
};
