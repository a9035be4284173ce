// The reference for the start-up benchmark: a bare Qt Widgets program that shows one frameless
// window of the login window's size and title, nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QWidget window;
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.setFixedSize(380, 332);
    window.setWindowTitle(QStringLiteral("Tavio语音房电脑助手"));
    window.show();
    return QApplication::exec();
}
