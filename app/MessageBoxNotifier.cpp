#include "app/MessageBoxNotifier.h"

#include "ui/WarningBox.h"

#include <QMessageBox>

void MessageBoxNotifier::tell(Style style, const QString& title, const QString& text)
{
    if (style == Style::Warning) {
        // The warning box carries its own title.
        showWarning(text);
        return;
    }
    QMessageBox box(QMessageBox::Information, title, text, QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText); // what lower layers tell may quote outside text
    box.exec();
}
