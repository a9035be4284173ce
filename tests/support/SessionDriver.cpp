#include "support/SessionDriver.h"

#include "base/MuSettings.h"
#include "ui/MuMsgbox.h"

SessionDriver::SessionDriver(bool manualTime)
{
    if (manualTime)
        m_clock = std::make_unique<ManualClock>(QDateTime(QDate(2026, 12, 6), QTime(20, 0, 0)), 1000000);
    QApplication::setQuitOnLastWindowClosed(false); // closing a window must not end the test
    m_window = std::make_unique<MuVozedIvazerida>();
    m_window->show();
}

SessionDriver::~SessionDriver()
{
    panel()->messageBox()->hide();
    panel()->close();
    m_window.reset();
    MuSettings::destroyInstance(); // writes what the store holds
}

QPushButton* SessionDriver::button(const char* name) const
{
    QPushButton* found = panel()->findChild<QPushButton*>(name);
    return found ? found : m_window->findChild<QPushButton*>(name);
}

void SessionDriver::attemptLogin(const QString& user, const QString& password)
{
    edit("lineEdit_userid")->setText(user);
    edit("lineEdit_password")->setText(password);
    press("pushButton_login");
}

QString SessionDriver::toast() const
{
    const MuMsgbox* toast = m_window->findChild<MuMsgbox*>();
    return toast && toast->isVisible() ? toast->text() : QString();
}

void SessionDriver::openPanel(int state)
{
    MuSettings::instance()->saveLogin(QStringLiteral("10001"), QStringLiteral("x"), QStringLiteral("20001"));
    panel()->prepareSession();
    m_window->hide();
    panel()->show();
    QVERIFY(QTest::qWaitForWindowExposed(panel()));
    for (int s = PanelStateEnterRoom; s < state; ++s)
        press("pushButton_push");
    QCOMPARE(panel()->pushState(), state);
}

void SessionDriver::takeOverHeartbeat()
{
    for (QTimer* timer : panel()->findChildren<QTimer*>())
        if (timer->interval() == 2000)
            timer->stop();
}

void SessionDriver::beat(qint64 advanceMs)
{
    m_clock->advance(advanceMs);
    panel()->sltHeartbeat();
}

int SessionDriver::fireTimers(const QObject* owner, int intervalMs, bool fire)
{
    int count = 0;
    for (QTimer* timer : owner->findChildren<QTimer*>())
        if (timer->isActive() && timer->interval() == intervalMs && ++count && fire)
            QMetaObject::invokeMethod(timer, "timeout");
    return count;
}

QString SessionDriver::boxLine(int line) const
{
    return boxShown()
               ? panel()->messageBox()->findChild<QLabel*>(line == 1 ? "label_line1" : "label_line2")->text()
               : QString();
}

void SessionDriver::dismissBox(const char* buttonName)
{
    QTest::mouseClick(panel()->messageBox()->findChild<QPushButton*>(buttonName), Qt::LeftButton);
}
