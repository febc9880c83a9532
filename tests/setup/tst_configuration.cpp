// The settings store: what it loads from settings.json, header.txt and the
// serial-number file, what it writes back, and what it survives.

#include "configuration.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using ScreenTest::besideExecutable;
using ScreenTest::readFile;

// A file the test cannot write is a failure of the test.
void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY2(ScreenTest::writeFile(path, content), qPrintable(path));
}

// Root ignores permissions; the immutable flag is what makes a folder unwritable here.
bool setImmutable(const QString &directory, bool immutable)
{
    const int fd = ::open(QFile::encodeName(directory).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = immutable ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    ::close(fd);
    return done;
}

QStringList capturedMessages;

void captureMessage(QtMsgType, const QMessageLogContext &, const QString &message)
{
    capturedMessages << message;
}

const QByteArray savedDefaults = "{\n"
                                 "    \"browser_start_command\": \"\",\n"
                                 "    \"dhcp_enable\": false,\n"
                                 "    \"ip_address\": \"\",\n"
                                 "    \"ip_gateway\": \"\",\n"
                                 "    \"ip_mask\": \"\",\n"
                                 "    \"serial_id_file_path\": \"\",\n"
                                 "    \"show_cmd_button\": false\n"
                                 "}\n";

} // namespace

class TestConfiguration : public QObject
{
    Q_OBJECT

private:
    Configuration *store = nullptr;
    QTemporaryDir scratch;

    // Back to a device that has never loaded anything, with no files beside it.
    void resetStore()
    {
        QFile::remove(besideExecutable("settings.json"));
        QFile::remove(besideExecutable("header.txt"));
        store->_jsonObject = QJsonObject();
        for (QString *text : {&store->_textHeaderValue1, &store->_textHeaderValue2, &store->_browserStartCommand,
                              &store->_serialIdFilePath, &store->_serialIdValue, &store->_netIp, &store->_netMask,
                              &store->_netGateway})
            text->clear();
        store->_dhcpEnable = false;
        store->_showCmdButton = false;
    }

    void loadSerialFrom(const QString &path)
    {
        writeFile(besideExecutable("settings.json"),
                  QJsonDocument(QJsonObject{{"serial_id_file_path", path}}).toJson());
        store->init();
    }

private slots:
    void initTestCase();
    void init() { resetStore(); }
    void cleanupTestCase() { resetStore(); }

    void withoutFilesTheNetworkIsEmptyAndTheFirstSaveWritesAllKeys();
    void loadsEveryKnownKey();
    void valuesOfTheWrongTypeLeaveMembersUnchanged_data();
    void valuesOfTheWrongTypeLeaveMembersUnchanged();
    void unreadableSettingsBecomeAnEmptyObject_data();
    void unreadableSettingsBecomeAnEmptyObject();
    void aTenMegabyteSettingsFileIsRead();
    void unknownKeysSurviveASave();
    void savesInIndentedFormWithKeysInNameOrder();
    void saveWritesTheStoredValuesAndNothingElse();
    void reloadReadsFilesOverEditedValues();
    void reloadWithoutSettingsFileFallsBackToTheHeldObject();
    void headerLines_data();
    void headerLines();
    void headerThatNeverEndsIsReadBounded();
    void serialNumber_data();
    void serialNumber();
    void serialSourcesWithoutEndDoNotHang_data();
    void serialSourcesWithoutEndDoNotHang();
    void serialFifoWithWriterThatNeverWritesDoesNotHang();
    void logsTheLoadedValues();
    void aSaveThatCannotBeWrittenLeavesThePreviousFile();
    void aKilledSaveLeavesEitherTheOldOrTheNewFile();
};

void TestConfiguration::initTestCase()
{
    QVERIFY(scratch.isValid());
    QFile::remove(besideExecutable("settings.json"));
    QFile::remove(besideExecutable("header.txt"));
    store = Configuration::instation();
    QVERIFY(store);
    QCOMPARE(Configuration::instation(), store);
}

void TestConfiguration::withoutFilesTheNetworkIsEmptyAndTheFirstSaveWritesAllKeys()
{
    store->init();
    QCOMPARE(store->_netIp, QString());
    QCOMPARE(store->_netMask, QString());
    QCOMPARE(store->_netGateway, QString());
    QCOMPARE(store->_dhcpEnable, false);
    QCOMPARE(store->_showCmdButton, false);
    QCOMPARE(store->_serialIdValue, QString());

    store->saveConfiguration();
    QCOMPARE(readFile(besideExecutable("settings.json")), savedDefaults);
}

void TestConfiguration::loadsEveryKnownKey()
{
    writeFile(besideExecutable("settings.json"), R"({
        "browser_start_command": "/usr/bin/browser-control",
        "serial_id_file_path": "/nonexistent/serial",
        "ip_address": "192.168.1.10", "ip_mask": "255.255.255.0", "ip_gateway": "192.168.1.1",
        "dhcp_enable": true, "show_cmd_button": true })");
    store->init();
    QCOMPARE(store->_browserStartCommand, QString("/usr/bin/browser-control"));
    QCOMPARE(store->_serialIdFilePath, QString("/nonexistent/serial"));
    QCOMPARE(store->_netIp, QString("192.168.1.10"));
    QCOMPARE(store->_netMask, QString("255.255.255.0"));
    QCOMPARE(store->_netGateway, QString("192.168.1.1"));
    QCOMPARE(store->_dhcpEnable, true);
    QCOMPARE(store->_showCmdButton, true);
    QCOMPARE(store->_hostName, QSysInfo::machineHostName());
}

void TestConfiguration::valuesOfTheWrongTypeLeaveMembersUnchanged_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::newRow("boolean given as text") << QByteArray(R"({"dhcp_enable": "true", "show_cmd_button": 1})");
    QTest::newRow("texts given as numbers, null, arrays")
        << QByteArray(R"({"ip_address": 192, "ip_mask": null, "ip_gateway": [1], "browser_start_command": {}})");
}

void TestConfiguration::valuesOfTheWrongTypeLeaveMembersUnchanged()
{
    QFETCH(QByteArray, settings);
    store->_netIp = "10.0.0.1";
    store->_netMask = "255.0.0.0";
    store->_netGateway = "10.0.0.254";
    store->_browserStartCommand = "/bin/keep";
    writeFile(besideExecutable("settings.json"), settings);
    store->init();
    QCOMPARE(store->_dhcpEnable, false);
    QCOMPARE(store->_showCmdButton, false);
    QCOMPARE(store->_netIp, QString("10.0.0.1"));
    QCOMPARE(store->_netMask, QString("255.0.0.0"));
    QCOMPARE(store->_netGateway, QString("10.0.0.254"));
    QCOMPARE(store->_browserStartCommand, QString("/bin/keep"));
}

void TestConfiguration::unreadableSettingsBecomeAnEmptyObject_data()
{
    QTest::addColumn<QByteArray>("settings");
    QTest::newRow("not JSON") << QByteArray("ip_address=192.168.1.10\n");
    QTest::newRow("root is an array") << QByteArray(R"([{"ip_address": "192.168.1.10"}])");
    QTest::newRow("cut short") << QByteArray(R"({"ip_address": "192.168.1.10", "ip_m)");
    QTest::newRow("bytes that are not UTF-8") << QByteArray("{\"ip_address\": \"192.168.1.\xff\xfe\"}");
    QTest::newRow("empty") << QByteArray();
}

void TestConfiguration::unreadableSettingsBecomeAnEmptyObject()
{
    QFETCH(QByteArray, settings);
    store->_jsonObject = QJsonObject{{"stale", true}};
    store->_netIp = "10.0.0.1";
    writeFile(besideExecutable("settings.json"), settings);
    store->init();
    QCOMPARE(store->_jsonObject, QJsonObject());
    QCOMPARE(store->_netIp, QString("10.0.0.1"));
}

void TestConfiguration::aTenMegabyteSettingsFileIsRead()
{
    const QString bulk(10 * 1024 * 1024, QLatin1Char('x'));
    writeFile(besideExecutable("settings.json"),
              QJsonDocument(QJsonObject{{"ip_address", "192.168.7.7"}, {"bulk", bulk}}).toJson());
    store->init();
    QCOMPARE(store->_netIp, QString("192.168.7.7"));
    QCOMPARE(store->_jsonObject.value("bulk").toString().size(), bulk.size());
}

void TestConfiguration::unknownKeysSurviveASave()
{
    writeFile(besideExecutable("settings.json"), R"({"kiosk_url": "http://plant/", "zones": [1, 2], "ip_address": "10.1.1.1"})");
    store->init();
    store->_netIp = "10.1.1.2";
    store->saveConfiguration();
    const QJsonObject saved = QJsonDocument::fromJson(readFile(besideExecutable("settings.json"))).object();
    QCOMPARE(saved.value("kiosk_url").toString(), QString("http://plant/"));
    QCOMPARE(saved.value("zones").toArray(), QJsonArray({1, 2}));
    QCOMPARE(saved.value("ip_address").toString(), QString("10.1.1.2"));
    QCOMPARE(saved.size(), 9);
}

void TestConfiguration::savesInIndentedFormWithKeysInNameOrder()
{
    writeFile(besideExecutable("settings.json"), R"({"show_cmd_button": true, "ip_mask": "255.255.255.0",
        "dhcp_enable": true, "browser_start_command": "/opt/browser control"})");
    store->init();
    store->_netIp = "192.168.1.10";
    store->saveConfiguration();
    QCOMPARE(readFile(besideExecutable("settings.json")),
             QByteArray("{\n"
                        "    \"browser_start_command\": \"/opt/browser control\",\n"
                        "    \"dhcp_enable\": true,\n"
                        "    \"ip_address\": \"192.168.1.10\",\n"
                        "    \"ip_gateway\": \"\",\n"
                        "    \"ip_mask\": \"255.255.255.0\",\n"
                        "    \"serial_id_file_path\": \"\",\n"
                        "    \"show_cmd_button\": true\n"
                        "}\n"));
}

void TestConfiguration::saveWritesTheStoredValuesAndNothingElse()
{
    writeFile(besideExecutable("header.txt"), "Header one\nHeader two\n");
    store->init();
    store->_serialIdValue = "SERIAL";
    store->saveConfiguration();
    const QByteArray saved = readFile(besideExecutable("settings.json"));
    QVERIFY(!saved.contains("Header"));
    QVERIFY(!saved.contains("SERIAL"));
    QVERIFY(!saved.contains(store->_macAddress.toUtf8()) || store->_macAddress.isEmpty());
    QCOMPARE(store->_textHeaderValue1, QString("Header one"));
}

void TestConfiguration::reloadReadsFilesOverEditedValues()
{
    writeFile(besideExecutable("settings.json"), R"({"ip_address": "192.168.1.10", "dhcp_enable": true})");
    store->init();
    store->_netIp = "10.9.9.9";
    store->_netMask = "255.255.0.0";
    store->_dhcpEnable = false;
    store->init();
    QCOMPARE(store->_netIp, QString("192.168.1.10"));
    QCOMPARE(store->_dhcpEnable, true);
    QCOMPARE(store->_netMask, QString("255.255.0.0")); // not in the file: the edit stays
}

void TestConfiguration::reloadWithoutSettingsFileFallsBackToTheHeldObject()
{
    writeFile(besideExecutable("settings.json"), R"({"ip_address": "192.168.1.10"})");
    store->init();
    store->_netIp = "10.9.9.9";
    store->saveConfiguration();
    store->_netIp = "172.16.0.1";
    QVERIFY(QFile::remove(besideExecutable("settings.json")));
    store->init();
    QCOMPARE(store->_netIp, QString("10.9.9.9"));
}

void TestConfiguration::headerLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");
    QTest::newRow("two lines and more") << QByteArray("Пульт №1\nЦех 3\nignored\n") << "Пульт №1" << "Цех 3";
    QTest::newRow("carriage returns stay") << QByteArray("one\r\ntwo\r\n") << "one\r" << "two\r";
    QTest::newRow("no final newline") << QByteArray("one\ntwo") << "one" << "two";
    QTest::newRow("single line") << QByteArray("only\n") << "only" << "";
    QTest::newRow("empty") << QByteArray() << "" << "";
    QTest::newRow("NUL ends a line") << QByteArray("on\0e\ntw\0o\n", 11) << "on" << "tw";
}

void TestConfiguration::headerLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, first);
    QFETCH(QString, second);
    store->_textHeaderValue1 = "stale";
    store->_textHeaderValue2 = "stale";
    writeFile(besideExecutable("header.txt"), content);
    store->init();
    QCOMPARE(store->_textHeaderValue1, first);
    QCOMPARE(store->_textHeaderValue2, second);
}

void TestConfiguration::headerThatNeverEndsIsReadBounded()
{
    QVERIFY(QFile::link("/dev/urandom", besideExecutable("header.txt")));
    QElapsedTimer timer;
    timer.start();
    store->init();
    QVERIFY2(timer.elapsed() < 5000, "reading an endless header took too long");
    QVERIFY(store->_textHeaderValue1.size() < 64 * 1024);
}

void TestConfiguration::serialNumber_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("expected");
    QTest::newRow("25 characters and a line feed") << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXY\n") << "ABCDEFGHIJKLMNOPQRST";
    QTest::newRow("two lines joined, then cut") << QByteArray("SN-0001\nBATCH-22-ABCDEF\n") << "SN-0001BATCH-22-ABCD";
    QTest::newRow("NUL ends the number") << QByteArray("SN42\0garbage", 12) << "SN42";
    QTest::newRow("counted in characters, not bytes") << QByteArray("ПУЛЬТ-ОПЕРАТОРА-1234567") << "ПУЛЬТ-ОПЕРАТОРА-1234";
    QTest::newRow("carriage return kept") << QByteArray("SN7\r\n") << "SN7\r";
}

void TestConfiguration::serialNumber()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, expected);
    const QString path = scratch.filePath("serial");
    writeFile(path, content);
    loadSerialFrom(path);
    QCOMPARE(store->_serialIdValue, expected);
}

void TestConfiguration::serialSourcesWithoutEndDoNotHang_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("maximumLength");
    QTest::newRow("/dev/zero") << "/dev/zero" << 0;
    QTest::newRow("/dev/urandom") << "/dev/urandom" << 20;
    QTest::newRow("FIFO without writer") << "fifo" << 0;
    QTest::newRow("sparse 4 GiB file") << "sparse" << 0;
    QTest::newRow("missing file") << "/nonexistent/serial" << 0;
    QTest::newRow("empty path") << "" << 0;
    QTest::newRow("a directory") << "/" << 0;
}

void TestConfiguration::serialSourcesWithoutEndDoNotHang()
{
    QFETCH(QString, path);
    QFETCH(int, maximumLength);
    if (path == "fifo") {
        path = scratch.filePath("serial.fifo");
        QFile::remove(path);
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    } else if (path == "sparse") {
        path = scratch.filePath("serial.sparse");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.resize(qint64(4) << 30));
    }
    QElapsedTimer timer;
    timer.start();
    loadSerialFrom(path);
    QVERIFY2(timer.elapsed() < 5000, "reading the serial number took too long");
    QVERIFY(store->_serialIdValue.size() <= maximumLength);
}

void TestConfiguration::serialFifoWithWriterThatNeverWritesDoesNotHang()
{
    const QString path = scratch.filePath("serial.held-fifo");
    QFile::remove(path);
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    const int writer = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK);
    QVERIFY(writer >= 0);
    auto closeWriter = qScopeGuard([writer] { ::close(writer); });
    QElapsedTimer timer;
    timer.start();
    loadSerialFrom(path);
    QVERIFY2(timer.elapsed() < 5000, "a FIFO that never delivers blocked the load");
    QCOMPARE(store->_serialIdValue, QString());
}

void TestConfiguration::logsTheLoadedValues()
{
    const QString serialPath = scratch.filePath("serial-log");
    writeFile(serialPath, "0123456789ABCDEFGHIJKLMN\n");
    writeFile(besideExecutable("header.txt"), "Line \"one\"\nLine two\n");
    writeFile(besideExecutable("settings.json"),
              QJsonDocument(QJsonObject{{"serial_id_file_path", serialPath},
                                        {"browser_start_command", "/usr/bin/kiosk-control"},
                                        {"ip_address", "192.168.1.10"},
                                        {"ip_mask", "255.255.255.0"},
                                        {"ip_gateway", "192.168.1.1"},
                                        {"dhcp_enable", "true"},
                                        {"show_cmd_button", true}})
                  .toJson());
    capturedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    store->init();
    qInstallMessageHandler(previous);

    QVERIFY(capturedMessages.value(0).startsWith("Configuration::init() configurationFilePath["
                                                 + besideExecutable("settings.json") + "] _hostName["));
    const QStringList expected = {
        "_textHeaderValue1: \"Line \\\"one\\\"\"",
        "_textHeaderValue2: \"Line two\"",
        "_browserStartCommand: \"/usr/bin/kiosk-control\"",
        "_serialIdFilePath[" + serialPath + "] _serialIdValue[0123456789ABCDEFGHIJ]",
        "_netIp: \"192.168.1.10\"",
        "_netMask: \"255.255.255.0\"",
        "_netGateway: \"192.168.1.1\"",
        "_dhcpEnable: false",
        "_showCmdButton: true",
    };
    QCOMPARE(capturedMessages.mid(1), expected);
}

void TestConfiguration::aSaveThatCannotBeWrittenLeavesThePreviousFile()
{
    store->_netIp = "192.168.1.10";
    store->saveConfiguration();
    const QByteArray before = readFile(besideExecutable("settings.json"));
    QVERIFY(before.contains("192.168.1.10"));

    const QString folder = QCoreApplication::applicationDirPath();
    if (!setImmutable(folder, true))
        QSKIP("this file system cannot make a folder unwritable for root");
    auto undo = qScopeGuard([folder] { setImmutable(folder, false); });
    store->_netIp = "10.0.0.1";
    store->saveConfiguration();
    QCOMPARE(readFile(besideExecutable("settings.json")), before);
    QCOMPARE(QDir(folder).entryList({"settings.json*"}, QDir::Files | QDir::Hidden), QStringList{"settings.json"});
}

// A power cut is a kill without warning: the program that saves is killed at
// random moments, hundreds of times, and the file must always parse and hold
// one of the two contents it alternates between.
void TestConfiguration::aKilledSaveLeavesEitherTheOldOrTheNewFile()
{
    const QString saver = QStringLiteral(SETTINGS_SAVER);
    QVERIFY2(QFile::exists(saver), "the settings-saver helper is not built");
    QTemporaryDir device;
    QVERIFY(device.isValid());
    const QString program = device.filePath("settings-saver");
    QVERIFY(QFile::copy(saver, program));
    const QString settings = device.filePath("settings.json");
    writeFile(settings, "{\n    \"ip_address\": \"10.0.0.1\"\n}\n");

    QRandomGenerator random(20261208);
    int interrupted = 0;
    for (int run = 0; run < 300; ++run) {
        QProcess process;
        process.start(program, QStringList());
        QVERIFY(process.waitForStarted());
        QTest::qSleep(int(random.bounded(1, 25)));
        if (process.state() == QProcess::Running)
            ++interrupted;
        process.kill();
        process.waitForFinished();

        QJsonParseError error;
        const QJsonObject content = QJsonDocument::fromJson(readFile(settings), &error).object();
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(QString("run %1: %2").arg(run).arg(error.errorString())));
        const QString address = content.value("ip_address").toString();
        QVERIFY2(address == "10.0.0.1" || address == "10.0.0.2", qPrintable(QString("run %1: %2").arg(run).arg(address)));
        QCOMPARE(content.value("ballast").toString().size(), address == "10.0.0.1" ? 0 : 200000);
    }
    QVERIFY2(interrupted > 250, "the saver ended before it could be interrupted");
}

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
