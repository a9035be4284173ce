#include "ui/VMonLayer.h"

#include <QLabel>
#include <QVBoxLayout>

VMonLayer::VMonLayer(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("VMonLayer"));
    setWindowTitle(QStringLiteral("VMonLayer"));
    resize(380, 472);

    auto* layout = new QVBoxLayout(this);
    layout->setObjectName(QStringLiteral("verticalLayout"));
    layout->setSpacing(0);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("label_monlayer"));
    layout->addWidget(label);

    setStyleSheet(
        QStringLiteral("#label_monlayer { border-radius: 8px; background-color: rgba(0, 0, 0, 40%); }"));
}
