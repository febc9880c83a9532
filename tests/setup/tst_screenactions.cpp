// The buttons of the settings screens that change the device: "Применить",
// "Сохранить", "Выйти", "Командная строка", "Перезагрузить" and the date
// editor's "Применить". They run the network programs, the browser command,
// reboot, date and hwclock, so this binary runs inside the panel sandbox only,
// where eth0 is a veth with a DHCP server behind it and the rest are recorders.

#include "configuration.h"
#include "dialogeditip.h"
#include "dialogedittime.h"
#include "mainwindow.h"
#include "sandboxguard.h"
#include "screenhelpers.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <ctime>

using ScreenTest::besideExecutable;
using ScreenTest::button;
using ScreenTest::child;
using ScreenTest::click;
using ScreenTest::execWith;
using ScreenTest::keptMessages;
using ScreenTest::recordedCommands;
using ScreenTest::recordedCommandsOf;
using ScreenTest::text;

namespace {

QString browserCommand()
{
    return ScreenTest::sandboxBrowserCommand();
}

QJsonObject storedSettings()
{
    return ScreenTest::fieldSettings();
}

QString liveAddress()
{
    return Configuration::getCurretnIpAddress(Configuration::DEFAULT_NETWORK_INTERFACE);
}

QString liveGateway()
{
    return Configuration::getCurrentGatewayFromProc(Configuration::DEFAULT_NETWORK_INTERFACE);
}

// Steps the address editor that the window opens by the given "+" presses of
// the fourth octet and accepts it.
void editAddress(MainWindow &window, const char *editButton, int presses)
{
    ScreenTest::whenDialogOpens<DialogEditIp>(&window, [presses](DialogEditIp *dialog) {
        ScreenTest::clickTimes(dialog->findChild<QPushButton *>(QStringLiteral("pushButton_up_ip_4")), presses);
        click(dialog->findChild<QPushButton *>(QStringLiteral("pushButton_apply")));
    });
    click(button(window, editButton));
}

// The date and time editor's "Применить" gives "/bin/date -s @N", then
// "/sbin/hwclock -w"; this returns N, or -1 when the two are not there in
// that order.
qint64 recordedClockSetting()
{
    const QList<QStringList> commands = recordedCommands();
    int date = -1;
    int hwclock = -1;
    for (int i = 0; i < commands.size(); ++i) {
        if (commands[i].value(0) == QLatin1String("/bin/date"))
            date = i;
        if (commands[i].value(0) == QLatin1String("/sbin/hwclock"))
            hwclock = i;
    }
    if (date < 0 || hwclock < date)
        return -1;
    if (commands[hwclock] != QStringList{"/sbin/hwclock", "-w"})
        return -1;
    const QStringList &argv = commands[date];
    if (argv.size() != 3 || argv[1] != QLatin1String("-s") || !argv[2].startsWith(QLatin1Char('@')))
        return -1;
    bool ok = false;
    const qint64 seconds = argv[2].mid(1).toLongLong(&ok);
    return ok ? seconds : -1;
}

void clearCommandLog()
{
    QVERIFY(ScreenTest::writeFile(QString::fromLocal8Bit(qgetenv("PANEL_SANDBOX_LOG")), QByteArray()));
}

constexpr int LEASE_MS = 20000;

} // namespace

class TestScreenActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void applyBringsTheEditedSettingsUpWithoutSaving();
    void saveWritesTheFileThenApplies();
    void dhcpShowsTheLeaseOnlyAfterApply();
    void exitStartsTheBrowserCommandLineDoesNot();
    void rebootRunsRebootAndLeaves();
    void dateApplySetsSystemThenHardwareClock_data();
    void dateApplySetsSystemThenHardwareClock();
    void dateCancelAndOutOfRangeLeaveTheClock();
    void datesPastTheSigned32BitEndAreSetExactly_data();
    void datesPastTheSigned32BitEndAreSetExactly();
};

void TestScreenActions::initTestCase()
{
    requireSandbox();
    ScreenTest::quietOffscreenWarnings();
    ScreenTest::keepMessages();
    qputenv("TZ", "UTC");
    tzset();
    QVERIFY(!browserCommand().isEmpty());
    QVERIFY(ScreenTest::writeSettings(storedSettings()));
    QVERIFY(ScreenTest::writeFile(besideExecutable("header.txt"), "Панель\nСтенд\n"));
    QVERIFY(ScreenTest::writeFile(besideExecutable("serial.txt"), "PNL-2024-000137\n"));
    QCOMPARE(Configuration::instation()->_browserStartCommand, browserCommand());
}

void TestScreenActions::init()
{
    QVERIFY(ScreenTest::writeSettings(storedSettings()));
    Configuration::instation()->init();
    clearCommandLog();
    keptMessages().clear();
}

void TestScreenActions::applyBringsTheEditedSettingsUpWithoutSaving()
{
    MainWindow window;
    window.show();
    editAddress(window, "pushButton_ipAddrEdit", 1);
    QCOMPARE(text(window, "label_ip"), QStringLiteral("192.168.1.51"));

    click(button(window, "pushButton_apply"));
    QCOMPARE(liveAddress(), QStringLiteral("192.168.1.51"));
    QCOMPARE(Configuration::getCurrentNetmask(Configuration::DEFAULT_NETWORK_INTERFACE),
             QStringLiteral("255.255.255.0"));
    QCOMPARE(liveGateway(), QStringLiteral("192.168.1.1"));
    QCOMPARE(ScreenTest::readSettings().value("ip_address").toString(), QStringLiteral("192.168.1.50"));
}

void TestScreenActions::saveWritesTheFileThenApplies()
{
    MainWindow window;
    window.show();
    editAddress(window, "pushButton_ipAddrEdit", 2);
    editAddress(window, "pushButton_gatewayAddrEdit", 0);

    click(button(window, "pushButton_save"));
    const QJsonObject saved = ScreenTest::readSettings();
    QCOMPARE(saved.value("ip_address").toString(), QStringLiteral("192.168.1.52"));
    QCOMPARE(saved.value("ip_gateway").toString(), QStringLiteral("192.168.1.1"));
    QCOMPARE(saved.value("browser_start_command").toString(), browserCommand());
    QCOMPARE(liveAddress(), QStringLiteral("192.168.1.52"));
    QCOMPARE(liveGateway(), QStringLiteral("192.168.1.1"));
}

void TestScreenActions::dhcpShowsTheLeaseOnlyAfterApply()
{
    MainWindow window;
    window.show();
    click(button(window, "pushButton_apply"));
    QCOMPARE(liveAddress(), QStringLiteral("192.168.1.50"));

    // The check box only switches what the window shows: the interface keeps
    // its static address until "Применить".
    click(child<QCheckBox>(window, "checkBox_dhcp"));
    QVERIFY(Configuration::instation()->_dhcpEnable);
    QCOMPARE(text(window, "label_ip"), QStringLiteral("192.168.1.50"));
    QCOMPARE(liveAddress(), QStringLiteral("192.168.1.50"));

    click(button(window, "pushButton_apply"));
    // The client runs in the background; the 4000 ms tick shows the lease.
    const QRegularExpression leased(QStringLiteral("^192\\.168\\.1\\.1\\d\\d$"));
    QTRY_VERIFY_WITH_TIMEOUT(leased.match(text(window, "label_ip")).hasMatch(), LEASE_MS);
    QTRY_COMPARE_WITH_TIMEOUT(text(window, "label_gateway"), QStringLiteral("192.168.1.1"), 6000);
    QCOMPARE(text(window, "label_mask"), QStringLiteral("255.255.255.0"));
    QCOMPARE(text(window, "label_ip"), liveAddress());
    QCOMPARE(ScreenTest::readSettings().value("dhcp_enable").toBool(), false);

    // Back to static: the client is ended and the stored address returns.
    click(child<QCheckBox>(window, "checkBox_dhcp"));
    click(button(window, "pushButton_apply"));
    QCOMPARE(liveAddress(), QStringLiteral("192.168.1.50"));
    QCOMPARE(text(window, "label_ip"), QStringLiteral("192.168.1.50"));
}

void TestScreenActions::exitStartsTheBrowserCommandLineDoesNot()
{
    {
        MainWindow window;
        window.show();
        QAbstractButton *goToCmd = button(window, "pushButton_goToCmd");
        QVERIFY(goToCmd->isVisible());
        QCOMPARE(execWith([goToCmd] { click(goToCmd); }), 0);
    }
    {
        MainWindow window;
        window.show();
        QAbstractButton *exit = button(window, "pushButton_exit");
        QCOMPARE(execWith([exit] { click(exit); }), 0);
    }
    // The browser command is started detached; its record comes when it ran.
    // Had "Командная строка" started it too, that earlier record would be here.
    QTRY_COMPARE(recordedCommandsOf(browserCommand()).size(), 1);
    QCOMPARE(recordedCommandsOf(browserCommand()).first(), (QStringList{browserCommand(), "start"}));
    QVERIFY(recordedCommandsOf("/sbin/reboot").isEmpty());
}

void TestScreenActions::rebootRunsRebootAndLeaves()
{
    MainWindow window;
    window.show();
    QAbstractButton *reboot = button(window, "pushButton_reboot");
    QCOMPARE(execWith([reboot] { click(reboot); }), 0);
    QTRY_COMPARE(recordedCommandsOf("/sbin/reboot"), (QList<QStringList>{{"/sbin/reboot"}}));
    QVERIFY(recordedCommandsOf(browserCommand()).isEmpty());
}

void TestScreenActions::dateApplySetsSystemThenHardwareClock_data()
{
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<qint64>("shift");

    QTest::newRow("no steps: the moment of opening") << QStringList() << qint64(0);
    QTest::newRow("hour and minute up") << QStringList{"up_h", "up_min"} << qint64(3660);
    QTest::newRow("day down") << QStringList{"down_d"} << qint64(-86400);
}

void TestScreenActions::dateApplySetsSystemThenHardwareClock()
{
    QFETCH(QStringList, buttons);
    QFETCH(qint64, shift);

    MainWindow window;
    window.show();
    qint64 before = 0;
    qint64 after = 0;
    bool opened = false;
    ScreenTest::whenDialogOpens<DialogEditTime>(
        &window,
        [&](DialogEditTime *dialog) {
            after = QDateTime::currentSecsSinceEpoch();
            for (const QString &which : buttons)
                click(ScreenTest::timeButton(dialog, which));
            click(ScreenTest::timeButton(dialog, QStringLiteral("apply")));
        },
        &opened);
    before = QDateTime::currentSecsSinceEpoch();
    click(button(window, "pushButton_timeDateSetup"));

    QVERIFY(opened);
    const qint64 seconds = recordedClockSetting();
    QVERIFY2(seconds >= 0, qPrintable(ScreenTest::readFile(QString::fromLocal8Bit(qgetenv("PANEL_SANDBOX_LOG")))));
    QVERIFY2(seconds >= before + shift && seconds <= after + shift,
             qPrintable(QStringLiteral("%1 not in [%2, %3]").arg(seconds).arg(before + shift).arg(after + shift)));
    QCOMPARE(keptMessages().count(QStringLiteral("MainWindow::on_pushButton_timeDateSetup_clicked() Accepted")), 1);
}

void TestScreenActions::dateCancelAndOutOfRangeLeaveTheClock()
{
    MainWindow window;
    window.show();
    bool stillOpenAfterApply = false;
    ScreenTest::whenDialogOpens<DialogEditTime>(&window, [&](DialogEditTime *dialog) {
        ScreenTest::stepTimeEditorTo(dialog, QDate(1969, 12, 31), 23, 59);
        click(ScreenTest::timeButton(dialog, QStringLiteral("apply")));
        stillOpenAfterApply = dialog->isVisible();
        click(ScreenTest::timeButton(dialog, QStringLiteral("cancel")));
    });
    click(button(window, "pushButton_timeDateSetup"));
    QVERIFY(stillOpenAfterApply);

    ScreenTest::whenDialogOpens<DialogEditTime>(&window, [&](DialogEditTime *dialog) {
        ScreenTest::clickTimes(ScreenTest::timeButton(dialog, QStringLiteral("up_d")), 3);
        click(ScreenTest::timeButton(dialog, QStringLiteral("cancel")));
    });
    click(button(window, "pushButton_timeDateSetup"));

    QVERIFY(recordedCommandsOf("/bin/date").isEmpty());
    QVERIFY(recordedCommandsOf("/sbin/hwclock").isEmpty());
    QCOMPARE(keptMessages().count(QStringLiteral("MainWindow::on_pushButton_timeDateSetup_clicked() Accepted")), 0);
}

// The panel's 32-bit time_t ends at 2038-01-19 03:14:07 UTC. A moment past it,
// set through the editor as an operator does, must reach "/bin/date" as the
// exact unsigned count of seconds: no wrap to 1901, no cut at 2^31. In the
// armhf build this runs the real 32-bit code under emulation, against the
// recording stand-ins.
void TestScreenActions::datesPastTheSigned32BitEndAreSetExactly_data()
{
    QTest::addColumn<QDateTime>("moment");

    // Local moments chosen so that every time zone puts them past 2^31 - 1 and
    // below 2^32 seconds.
    QTest::newRow("the day after the signed end") << QDateTime(QDate(2038, 1, 20), QTime(0, 0));
    QTest::newRow("a leap day") << QDateTime(QDate(2040, 2, 29), QTime(8, 30));
    QTest::newRow("the day before the unsigned end") << QDateTime(QDate(2106, 2, 6), QTime(12, 0));
}

void TestScreenActions::datesPastTheSigned32BitEndAreSetExactly()
{
    QFETCH(QDateTime, moment);

    MainWindow window;
    window.show();
    QDateTime shown;
    ScreenTest::whenDialogOpens<DialogEditTime>(&window, [&](DialogEditTime *dialog) {
        ScreenTest::stepTimeEditorTo(dialog, moment.date(), moment.time().hour(), moment.time().minute());
        shown = ScreenTest::shownDateTime(dialog);
        click(ScreenTest::timeButton(dialog, QStringLiteral("apply")));
    });
    click(button(window, "pushButton_timeDateSetup"));

    QCOMPARE(shown, moment);
    // The editor keeps the seconds of the moment it opened at.
    const qint64 seconds = recordedClockSetting();
    const qint64 minute = moment.toSecsSinceEpoch();
    QVERIFY2(seconds >= minute && seconds < minute + 60,
             qPrintable(QStringLiteral("%1 not in [%2, %3)").arg(seconds).arg(minute).arg(minute + 60)));
    QVERIFY(seconds > 2147483647 && seconds <= 4294967295);
}

QTEST_MAIN(TestScreenActions)
#include "tst_screenactions.moc"
