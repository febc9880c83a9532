// The live interface queries, against the sandbox's own eth0 and routing table.
// The test changes addresses and routes, so it runs only inside the sandbox.

#include "configuration.h"
#include "sandboxguard.h"

#include <QCoreApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QDir>
#include <QtTest>

#include <sys/mount.h>

namespace {

void ip(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("/sbin/ip"), arguments);
    QVERIFY(process.waitForFinished());
    QVERIFY2(process.exitCode() == 0, qPrintable("ip " + arguments.join(' ') + ": " + process.readAllStandardError()));
}

QStringList debugMessages;

void captureDebug(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtDebugMsg)
        debugMessages << message;
}

} // namespace

class TestQueries : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void reportTheLiveAddressMaskAndHardwareAddress();
    void findNothingUnderAnotherSpellingOfTheName();
    void skipLoopbackAddresses();
    void preferIpv4OverAnIpv6AddressListedFirst();
    void deriveTheMaskFromThePrefixLength();
    void reportNoMaskForPrefixLengthZero();
    void reportNothingWithoutAnAddress();
    void readTheGatewayFromTheKernelsRoutes();
    void parseTheRoutingTable_data();
    void parseTheRoutingTable();
};

void TestQueries::initTestCase()
{
    requireSandbox();
}

void TestQueries::init()
{
    ip({"addr", "flush", "dev", "eth0"});
    ip({"link", "set", "eth0", "up"});
}

void TestQueries::reportTheLiveAddressMaskAndHardwareAddress()
{
    ip({"addr", "add", "192.168.1.10/24", "dev", "eth0"});
    QCOMPARE(Configuration::getCurretnIpAddress("eth0"), QString("192.168.1.10"));
    QCOMPARE(Configuration::getCurrentNetmask("eth0"), QString("255.255.255.0"));
    QCOMPARE(Configuration::getMacAddressByName("eth0"), QString("02:50:41:4E:45:4C"));
}

void TestQueries::findNothingUnderAnotherSpellingOfTheName()
{
    ip({"addr", "add", "192.168.1.10/24", "dev", "eth0"});
    ip({"route", "add", "default", "via", "192.168.1.1", "dev", "eth0"});
    for (const QString &name : {QString("ETH0"), QString("eth"), QString("eth0 "), QString()}) {
        QCOMPARE(Configuration::getMacAddressByName(name), QString());
        QCOMPARE(Configuration::getCurretnIpAddress(name), QString());
        QCOMPARE(Configuration::getCurrentNetmask(name), QString());
        QCOMPARE(Configuration::getCurrentGatewayFromProc(name), QString());
    }
}

void TestQueries::skipLoopbackAddresses()
{
    QCOMPARE(Configuration::getCurretnIpAddress("lo"), QString());
    QCOMPARE(Configuration::getCurrentNetmask("lo"), QString());
}

void TestQueries::preferIpv4OverAnIpv6AddressListedFirst()
{
    ip({"addr", "add", "fd00::10/64", "dev", "eth0", "nodad"});
    ip({"addr", "add", "10.20.30.40/16", "dev", "eth0"});
    QCOMPARE(Configuration::getCurretnIpAddress("eth0"), QString("10.20.30.40"));
    QCOMPARE(Configuration::getCurrentNetmask("eth0"), QString("255.255.0.0"));
}

void TestQueries::deriveTheMaskFromThePrefixLength()
{
    ip({"addr", "add", "192.168.1.77/32", "dev", "eth0"});
    QCOMPARE(Configuration::getCurrentNetmask("eth0"), QString("255.255.255.255"));
    ip({"addr", "flush", "dev", "eth0"});
    ip({"addr", "add", "10.0.0.1/1", "dev", "eth0"});
    QCOMPARE(Configuration::getCurrentNetmask("eth0"), QString("128.0.0.0"));
}

void TestQueries::reportNoMaskForPrefixLengthZero()
{
    ip({"addr", "add", "10.1.2.3/0", "dev", "eth0"});
    debugMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureDebug);
    const QString mask = Configuration::getCurrentNetmask("eth0");
    qInstallMessageHandler(previous);
    QCOMPARE(mask, QString());
    QCOMPARE(debugMessages, QStringList{"Netmask not available for \"eth0\" , prefix length: 0"});

    ip({"addr", "add", "10.9.9.9/8", "dev", "eth0"});
    QCOMPARE(Configuration::getCurrentNetmask("eth0"), QString("255.0.0.0"));
}

void TestQueries::reportNothingWithoutAnAddress()
{
    QCOMPARE(Configuration::getCurretnIpAddress("eth0"), QString());
    QCOMPARE(Configuration::getCurrentNetmask("eth0"), QString());
    QCOMPARE(Configuration::getCurrentGatewayFromProc("eth0"), QString());
}

void TestQueries::readTheGatewayFromTheKernelsRoutes()
{
    ip({"addr", "add", "192.168.1.10/24", "dev", "eth0"});
    QCOMPARE(Configuration::getCurrentGatewayFromProc("eth0"), QString()); // the subnet route has none
    ip({"route", "add", "172.16.0.0/12", "via", "192.168.1.3", "dev", "eth0"});
    QCOMPARE(Configuration::getCurrentGatewayFromProc("eth0"), QString("192.168.1.3"));
    ip({"route", "add", "default", "via", "192.168.1.1", "dev", "eth0"});
    QCOMPARE(Configuration::getCurrentGatewayFromProc("eth0"), QString("192.168.1.1"));
}

void TestQueries::parseTheRoutingTable_data()
{
    const QByteArray header = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
    QTest::addColumn<QByteArray>("table");
    QTest::addColumn<QString>("gateway");
    QTest::newRow("header only") << header << QString();
    QTest::newRow("zero gateway first, then one")
        << header
               + "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
                 "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        << QString("192.168.1.1");
    QTest::newRow("another interface first") << header
                                                    + "wlan0\t00000000\t010A0A0A\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                                      "eth0\t00000000\tFE01A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
                                             << QString("192.168.1.254");
    QTest::newRow("short and unparsable lines skipped")
        << header
               + "eth0\n\neth0\t00000000\n eth0\t00000000\t0101A8C0\nETH0\t00000000\t0401A8C0\n"
                 "eth0\t00000000\tZZ01A8C0\t0003\n"
                 "eth0\t0000000A\t0201A8C0\t0003\n"
        << QString("192.168.1.2");
    QTest::newRow("first route via a gateway wins, default or not")
        << header
               + "eth0\t0000000A\t0301A8C0\t0003\t0\t0\t0\t000000FF\t0\t0\t0\n"
                 "eth0\t00000000\t0101A8C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        << QString("192.168.1.3");
    QTest::newRow("no final newline") << header + "eth0\t00000000\t0101A8C0" << QString("192.168.1.1");
}

// The routing table is replaced for the moment of the query by a small /proc of
// its own; that mount exists only in the sandbox's mount namespace. (A bind
// mount over /proc/net/route would not do: /proc/net is a per-process link.)
void TestQueries::parseTheRoutingTable()
{
    QFETCH(QByteArray, table);
    QFETCH(QString, gateway);
    QCOMPARE(::mount("routes", "/proc", "tmpfs", 0, "mode=0755"), 0);
    auto unmount = qScopeGuard([] { QCOMPARE(::umount("/proc"), 0); });
    QVERIFY(QDir("/proc").mkdir("net"));
    QFile file("/proc/net/route");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(table);
    file.close();
    QCOMPARE(Configuration::getCurrentGatewayFromProc("eth0"), gateway);
}

QTEST_GUILESS_MAIN(TestQueries)
#include "tst_queries.moc"
