#pragma once

#include <QWidget>

// Placeholder: the login window (its own issue fills it in).
class MuVozedIvazerida : public QWidget
{
    Q_OBJECT

public:
    explicit MuVozedIvazerida(QWidget* parent = nullptr);
};
