#pragma once

#include <QWidget>

// Translucent dark layer that dims the voice panel while a confirmation box is open.
class VMonLayer : public QWidget
{
    Q_OBJECT

public:
    explicit VMonLayer(QWidget* parent = nullptr);
};
