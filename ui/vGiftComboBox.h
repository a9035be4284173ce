#pragma once

#include <QComboBox>

// Drop-down whose list opens a little below the box, without the system drop shadow.
class vGiftComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit vGiftComboBox(QWidget* parent = nullptr);

    void showPopup() override;

signals:
    void sigPopup();

protected:
    bool event(QEvent* event) override;
};
