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

    void installedBoxesShowTheNote_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("icon");
        QTest::addColumn<QString>("button");
        QTest::addColumn<bool>("fixedDialog");
        QTest::newRow("information") << int(UserNotifier::Style::Information) << "提示"
                                     << "sdk初始化失败" << int(QMessageBox::Information) << "OK" << false;
        QTest::newRow("warning") << int(UserNotifier::Style::Warning) << "温馨提示"
                                 << "系统配置文件被损坏，现在为您关闭程序，请您重新登录。"
                                 << int(QMessageBox::NoIcon) << "确定" << true;
    }
    void installedBoxesShowTheNote()
    {
        QFETCH(int, style);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(int, icon);
        QFETCH(QString, button);
        QFETCH(bool, fixedDialog);
        MessageBoxNotifier notifier;
        UserNotifier::install(&notifier);
        QString seen;
        QTimer dismiss;
        connect(&dismiss, &QTimer::timeout, this, [&]() {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = QStringLiteral("%1|%2|%3|%4|%5")
                       .arg(box->windowTitle(), box->text())
                       .arg(box->icon())
                       .arg(box->buttons().size())
                       .arg(box->buttons().first()->text().remove(QLatin1Char('&')));
            // The warning box asks for a fixed-size dialog (the platform adds hints of its own).
            if (fixedDialog && (box->windowType() != Qt::Dialog ||
                                !box->windowFlags().testFlag(Qt::MSWindowsFixedSizeDialogHint)))
                seen += QStringLiteral("|not a fixed-size dialog");
            QVERIFY(!box->parentWidget());
            box->buttons().first()->click();
        });
        dismiss.start(10);
        LogCapture::clear();
        UserNotifier::tellUser(UserNotifier::Style(style), title, text);
        // tellUser returned, so the box was dismissed.
        QCOMPARE(seen, QStringLiteral("%1|%2|%3|1|%4").arg(title, text).arg(icon).arg(button));
        QVERIFY(LogCapture::lines().filter(QStringLiteral("tell user")).isEmpty());
    }
};

QTEST_MAIN(TestMessageBoxNotifier)
#include "tst_MessageBoxNotifier.moc"
