// The lower layers' notes to the user: logged until the application installs its boxes, then shown.
#include "app/MessageBoxNotifier.h"
#include "base/UserNotifier.h"
#include "support/LogCapture.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

class TestMessageBoxNotifier : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> m_log;

private slots:
    void initTestCase() { m_log = std::make_unique<LogCapture>(); }
    void cleanup() { UserNotifier::install(nullptr); }

    // What the user sees (title, text, icon, the one button, a dialog of a fixed size) and the log.
    void tellUser_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("seen"); // empty: no box
        QTest::addColumn<QString>("logged");
        const QString warning = QStringLiteral("系统配置文件被损坏，现在为您关闭程序，请您重新登录。");
        // clang-format off
        QTest::newRow("before the boxes are installed") << int(UserNotifier::Style::Information) << "提示" << "sdk初始化失败" << QString() << "tell user \"提示\" \"sdk初始化失败\"";
        QTest::newRow("information") << int(UserNotifier::Style::Information) << "提示" << "sdk初始化失败" << QStringLiteral("提示|sdk初始化失败|%1|1|OK|1").arg(QMessageBox::Information) << QString();
        QTest::newRow("warning") << int(UserNotifier::Style::Warning) << "温馨提示" << warning << QStringLiteral("温馨提示|%1|%2|1|确定|1").arg(warning).arg(QMessageBox::NoIcon) << QString();
        // clang-format on
    }
    void tellUser()
    {
        QFETCH(QString, seen);
        QFETCH(int, style);
        QFETCH(QString, title);
        QFETCH(QString, text);
        MessageBoxNotifier notifier;
        UserNotifier::install(seen.isEmpty() ? nullptr : &notifier);
        QString shown;
        QTimer dismiss;
        connect(&dismiss, &QTimer::timeout, this, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            // A fixed-size dialog (the platform adds window hints of its own: only ours are looked at).
            const bool fixed = box->windowType() == Qt::Dialog &&
                               box->windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint);
            shown = QStringLiteral("%1|%2|%3|%4|%5|%6")
                        .arg(box->windowTitle(), box->text(), QString::number(box->icon()),
                             QString::number(box->buttons().size()),
                             box->buttons().first()->text().remove('&'), QString::number(fixed));
            QVERIFY(!box->parentWidget());
            box->buttons().first()->click();
        });
        dismiss.start(10);
        LogCapture::clear();
        UserNotifier::tellUser(UserNotifier::Style(style), title, text);
        QCOMPARE(shown, seen); // tellUser returned, so the box was dismissed
        QTEST(LogCapture::lines().filter(QStringLiteral("tell user")).join('\n'), "logged");
    }
};

QTEST_MAIN(TestMessageBoxNotifier)
#include "tst_MessageBoxNotifier.moc"
