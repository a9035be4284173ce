#include "ui/WarningBox.h"

#include <QAbstractButton>
#include <QMessageBox>

void showWarning(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, QStringLiteral("温馨提示"), text, QMessageBox::Ok, nullptr,
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    box.setTextFormat(Qt::PlainText);
    if (QAbstractButton* ok = box.button(QMessageBox::Ok))
        ok->setText(QStringLiteral("确定"));
    box.exec();
}
