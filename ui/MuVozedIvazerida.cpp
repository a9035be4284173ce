#include "ui/MuVozedIvazerida.h"

MuVozedIvazerida::MuVozedIvazerida(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Tavio语音房电脑助手"));
    resize(380, 332);
}
