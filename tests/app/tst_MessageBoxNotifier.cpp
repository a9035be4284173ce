// The lower layers' notes to the user: logged only until the application installs its boxes,
// then shown as the information box or the program's warning box.
#include "app/MessageBoxNotifier.h"
#include "base/UserNotifier.h"
#include "support/LogCapture.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>

#include <memory>

class TestMessageBoxNotifier : public QObject
{
    Q_OBJECT

    std::unique_ptr<LogCapture> m_log;

private slots:
    void initTestCase() { m_log = std::make_unique<LogCapture>(); }
    void cleanupTestCase() { m_log.reset(); }
    void cleanup() { UserNotifier::install(nullptr); }

    void withoutInstalledBoxesTheNoteIsLogged()
    {
        LogCapture::clear();
        UserNotifier::tellUser(UserNotifier::Style::Information, QStringLiteral("提示"),
                               QStringLiteral("sdk初始化失败"));
        QCOMPARE(LogCapture::lines(), QStringList({QStringLiteral("tell user \"提示\" \"sdk初始化失败\"")}));
        QVERIFY(QApplication::topLevelWidgets().isEmpty());
    }

    // What the user sees: title, text, icon, the one button, a dialog of a fixed size.
    void installedBoxesShowTheNote_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("seen");
        const QString warning = QStringLiteral("系统配置文件被损坏，现在为您关闭程序，请您重新登录。");
        QTest::newRow("information")
            << int(UserNotifier::Style::Information) << "提示"
            << "sdk初始化失败"
            << QStringLiteral("提示|sdk初始化失败|%1|1|OK|1").arg(QMessageBox::Information);
        QTest::newRow("warning")
            << int(UserNotifier::Style::Warning) << "温馨提示" << warning
            << QStringLiteral("温馨提示|%1|%2|1|确定|1").arg(warning).arg(QMessageBox::NoIcon);
    }
    void installedBoxesShowTheNote()
    {
        QFETCH(int, style);
        QFETCH(QString, title);
        QFETCH(QString, text);
        MessageBoxNotifier notifier;
        UserNotifier::install(&notifier);
        QString seen;
        QTimer dismiss;
        connect(&dismiss, &QTimer::timeout, this, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            // A fixed-size dialog (the platform adds window hints of its own: only ours are looked at).
            const bool fixed = box->windowType() == Qt::Dialog &&
                               box->windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint);
            seen = QStringLiteral("%1|%2|%3|%4|%5|%6")
                       .arg(box->windowTitle(), box->text())
                       .arg(box->icon())
                       .arg(box->buttons().size())
                       .arg(box->buttons().first()->text().remove(QLatin1Char('&')))
                       .arg(int(fixed));
            QVERIFY(!box->parentWidget());
            box->buttons().first()->click();
        });
        dismiss.start(10);
        LogCapture::clear();
        UserNotifier::tellUser(UserNotifier::Style(style), title, text);
        QTEST(seen, "seen"); // tellUser returned, so the box was dismissed
        QVERIFY(LogCapture::lines().filter(QStringLiteral("tell user")).isEmpty());
    }
};

QTEST_MAIN(TestMessageBoxNotifier)
#include "tst_MessageBoxNotifier.moc"
