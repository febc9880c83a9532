// Clock, reboot and browser actions, read back from the sandbox's recording
// stand-ins.

#include "configuration.h"
#include "sandboxguard.h"
#include "screenhelpers.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using ScreenTest::recordedCommands;

namespace {

void clearRecorded()
{
    QFile log(qEnvironmentVariable("PANEL_SANDBOX_LOG"));
    QVERIFY(log.open(QIODevice::WriteOnly | QIODevice::Truncate));
}

} // namespace

class TestSystemActions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { requireSandbox(); }
    void init() { clearRecorded(); }

    void setupRtcSetsTheSystemClockThenTheHardwareClock_data();
    void setupRtcSetsTheSystemClockThenTheHardwareClock();
    void rebootStartsTheRebootProgramWithoutArguments();
    void browserActionsReturnAtOnceAndStartIndependentInstances();
};

void TestSystemActions::setupRtcSetsTheSystemClockThenTheHardwareClock_data()
{
    QTest::addColumn<uint>("seconds");
    QTest::addColumn<QString>("dateArgument");
    // clang-format off
    QTest::newRow("epoch") << 0u << "@0";
    QTest::newRow("last signed second") << 2147483647u << "@2147483647";
    QTest::newRow("after 2038-01-19") << 2147483648u << "@2147483648";
    QTest::newRow("2100-01-01") << 4102444800u << "@4102444800";
    QTest::newRow("last unsigned second") << 4294967295u << "@4294967295";
    // clang-format on
}

// Beyond 2038 the count is written unsigned: a signed conversion would set the
// clock to a date before 1970.
void TestSystemActions::setupRtcSetsTheSystemClockThenTheHardwareClock()
{
    QFETCH(uint, seconds);
    QFETCH(QString, dateArgument);
    Configuration::setupRtc(seconds);
    const QList<QStringList> expected = {{"/bin/date", "-s", dateArgument}, {"/sbin/hwclock", "-w"}};
    QCOMPARE(recordedCommands(), expected);
}

void TestSystemActions::rebootStartsTheRebootProgramWithoutArguments()
{
    Configuration::doReboot();
    QTRY_COMPARE(recordedCommands(), QList<QStringList>{{"/sbin/reboot"}});
}

void TestSystemActions::browserActionsReturnAtOnceAndStartIndependentInstances()
{
    // A control program that takes its time: the actions must not wait for it.
    const QString slowControl = "/run/panel-sandbox/slow-browser-control";
    QFile script(slowControl);
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nsleep 2\nexec \"$PANEL_SANDBOX_BROWSER\" \"$@\"\n");
    script.close();
    QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    Configuration *store = Configuration::instation();
    store->_browserStartCommand = slowControl;
    QElapsedTimer timer;
    timer.start();
    store->startBrowser();
    store->startBrowser();
    store->stopBrowser();
    QVERIFY2(timer.elapsed() < 1000, "the browser actions waited for the control program");
    QTRY_COMPARE_WITH_TIMEOUT(recordedCommands().size(), 3, 10000);
    const QString browser = qEnvironmentVariable("PANEL_SANDBOX_BROWSER");
    QCOMPARE(recordedCommands().count({browser, "start"}), 2);
    QCOMPARE(recordedCommands().count({browser, "stop"}), 1);
}

QTEST_GUILESS_MAIN(TestSystemActions)
#include "tst_systemactions.moc"
