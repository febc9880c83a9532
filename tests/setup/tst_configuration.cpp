// The settings store: what it loads from settings.json, header.txt and the
// serial-number file, what it writes back, and what it survives.

#include "configuration.h"
#include "settingsfile.h"
#include "testfiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRandomGenerator>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <functional>
#include <linux/fs.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using ScreenTest::besideExecutable;
using ScreenTest::readFile;

// A file the test cannot write is a failure of the test.
void writeFile(const QString &path, const QByteArray &content)
{
    QVERIFY2(ScreenTest::writeFile(path, content), qPrintable(path));
}

// Root ignores permissions; the immutable flag is what makes a file or folder
// unwritable here.
bool setImmutable(const QString &path, bool immutable)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

// A small disk: `work` runs in a child process with a mount namespace of its
// own, in which a 1 MiB tmpfs lies over the test's folder (where settings.json
// is), filled up to `freeBytes` of free space (a negative value: not filled).
// `prepare` lays out the folder before it is filled. The child can only leave
// results in files outside that folder; the parent checks them. Returns the
// child's exit status: 0 when all went as planned.
enum SmallDiskStatus { SmallDiskDone = 0, NoPrivateMounts = 90, CannotFill = 91 };

int onSmallDisk(qint64 freeBytes, const std::function<void()> &prepare, const std::function<void()> &work)
{
    // fork copies only this thread. The only other one is QtTest's watchdog,
    // which waits on a lock of its own that the child never touches.
    const QByteArray folder = QFile::encodeName(QCoreApplication::applicationDirPath());
    fflush(nullptr);
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        // Private first: a mount made while "/" is still shared would appear on the host.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("panel-small-disk", folder.constData(), "tmpfs", MS_NOSUID | MS_NODEV, "size=1m,mode=0755") != 0)
            ::_exit(NoPrivateMounts);
        prepare();
        if (freeBytes >= 0) {
            const int fd = ::open(folder + "/filler", O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            const QByteArray page(4096, 'f');
            while (fd >= 0 && ::write(fd, page.constData(), size_t(page.size())) == page.size()) { }
            struct stat filled;
            struct statvfs disk;
            if (fd < 0 || ::fstat(fd, &filled) != 0 || ::ftruncate(fd, filled.st_size - freeBytes) != 0
                || ::statvfs(folder.constData(), &disk) != 0 || qint64(disk.f_bavail * disk.f_bsize) != freeBytes)
                ::_exit(CannotFill);
            ::close(fd);
        }
        work();
        ::_exit(SmallDiskDone);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

#define QVERIFY_SMALL_DISK(status) \
    do { \
        const int smallDisk = (status); \
        if (smallDisk == NoPrivateMounts && ::geteuid() != 0) \
            QSKIP("a small disk of its own needs root (a private mount namespace)"); \
        QVERIFY2(smallDisk == SmallDiskDone, \
                 qPrintable(QString("the small-disk child ended with %1").arg(smallDisk))); \
    } while (false)

QStringList folderEntries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

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
        for (QString *text :
             {&store->_textHeaderValue1, &store->_textHeaderValue2, &store->_browserStartCommand,
              &store->_serialIdFilePath, &store->_serialIdValue, &store->_netIp, &store->_netMask, &store->_netGateway})
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
    void settingsAboveOneMebibyteAreNotLoaded();
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
    void savesOnASmallDiskWholeOrNotAtAll_data();
    void savesOnASmallDiskWholeOrNotAtAll();
    void qtSaveFileStillCommitsAShortWrite();
    void aLinkedSettingsFileIsSavedAtItsTargetWithItsOwnerAndMode();
    void staleTemporaryFilesOfOurOwnAreRemovedAtTheNextSave();
    void aSaveTellsWhetherTheFileWasSaved_data();
    void aSaveTellsWhetherTheFileWasSaved();
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

    const mode_t mask = ::umask(022);
    store->saveConfiguration();
    ::umask(mask);
    QCOMPARE(readFile(besideExecutable("settings.json")), savedDefaults);
    // A first file is made as any other the program writes: 0666 less the umask.
    struct stat status;
    QCOMPARE(::stat(besideExecutable("settings.json").toLocal8Bit().constData(), &status), 0);
    QCOMPARE(status.st_mode & 07777, mode_t(0644));
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

// Parsing takes many times a file's size in memory; a settings file holds a few
// hundred bytes. Above 1 MiB the file is passed over like one that cannot be
// read, and the log says why.
void TestConfiguration::settingsAboveOneMebibyteAreNotLoaded()
{
    const auto fileOfSize = [](int size, const QByteArray &address) {
        const QByteArray frame = R"({"ip_address": ")" + address + R"(", "bulk": ""})";
        return QByteArray(frame).insert(frame.size() - 2, QByteArray(size - frame.size(), 'x'));
    };
    writeFile(besideExecutable("settings.json"), fileOfSize(1024 * 1024, "192.168.7.7"));
    store->init();
    QCOMPARE(store->_netIp, QString("192.168.7.7"));

    for (const int size : {1024 * 1024 + 1, 10 * 1024 * 1024}) {
        writeFile(besideExecutable("settings.json"), fileOfSize(size, "192.168.8.8"));
        capturedMessages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
        store->init();
        qInstallMessageHandler(previous);
        QCOMPARE(store->_netIp, QString("192.168.7.7"));
        QCOMPARE(store->_jsonObject.value("ip_address").toString(), QString("192.168.7.7"));
        QVERIFY(capturedMessages.contains(
            "Configuration::init() the settings file is larger than 1048576 bytes: not loaded"));
    }
}

void TestConfiguration::unknownKeysSurviveASave()
{
    writeFile(besideExecutable("settings.json"),
              R"({"kiosk_url": "http://plant/", "zones": [1, 2], "ip_address": "10.1.1.1"})");
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
    // clang-format off
    QTest::newRow("two lines and more") << QByteArray("Пульт №1\nЦех 3\nignored\n") << "Пульт №1" << "Цех 3";
    QTest::newRow("carriage returns stay") << QByteArray("one\r\ntwo\r\n") << "one\r" << "two\r";
    QTest::newRow("no final newline") << QByteArray("one\ntwo") << "one" << "two";
    QTest::newRow("single line") << QByteArray("only\n") << "only" << "";
    QTest::newRow("empty") << QByteArray() << "" << "";
    QTest::newRow("NUL ends a line") << QByteArray("on\0e\ntw\0o\n", 11) << "on" << "tw";
    // clang-format on
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
    // clang-format off
    QTest::newRow("25 characters and a line feed") << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXY\n") << "ABCDEFGHIJKLMNOPQRST";
    QTest::newRow("two lines joined, then cut") << QByteArray("SN-0001\nBATCH-22-ABCDEF\n") << "SN-0001BATCH-22-ABCD";
    QTest::newRow("NUL ends the number") << QByteArray("SN42\0garbage", 12) << "SN42";
    QTest::newRow("counted in characters, not bytes") << QByteArray("ПУЛЬТ-ОПЕРАТОРА-1234567") << "ПУЛЬТ-ОПЕРАТОРА-1234";
    QTest::newRow("carriage return kept") << QByteArray("SN7\r\n") << "SN7\r";
    // clang-format on
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
    // clang-format off
    QTest::newRow("/dev/zero") << "/dev/zero" << 0;
    QTest::newRow("/dev/urandom") << "/dev/urandom" << 20;
    QTest::newRow("FIFO without writer") << "fifo" << 0;
    QTest::newRow("sparse 4 GiB file") << "sparse" << 0;
    QTest::newRow("missing file") << "/nonexistent/serial" << 0;
    QTest::newRow("empty path") << "" << 0;
    QTest::newRow("a directory") << "/" << 0;
    // clang-format on
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

    // Neither the folder nor the file can be written.
    const QString folder = QCoreApplication::applicationDirPath();
    const QString file = besideExecutable("settings.json");
    const bool fileLocked = setImmutable(file, true);
    auto unlockFile = qScopeGuard([file] { setImmutable(file, false); });
    if (!fileLocked || !setImmutable(folder, true))
        QSKIP("this file system cannot make a file or folder unwritable for root");
    auto undo = qScopeGuard([folder] { setImmutable(folder, false); });
    store->_netIp = "10.0.0.1";
    store->saveConfiguration();
    QCOMPARE(readFile(besideExecutable("settings.json")), before);
    QCOMPARE(QDir(folder).entryList({"settings.json*"}, QDir::Files | QDir::Hidden), QStringList{"settings.json"});
}

// A save must never end with a settings file shorter than the settings: on a
// full disk the kernel takes part of the bytes, or none, or refuses at the
// sync. Then the previous file stays byte for byte. Device images that keep the
// root read-only bind-mount a writable settings.json into it: there the file is
// rewritten where it lies, and on a full disk not at all.
void TestConfiguration::savesOnASmallDiskWholeOrNotAtAll_data()
{
    QTest::addColumn<QString>("layout");
    QTest::addColumn<int>("ballast");
    QTest::addColumn<int>("freeKiB");
    QTest::addColumn<bool>("saved");
    for (const int free : {0, 4})
        QTest::addRow("small file, %d KiB free", free) << "plain" << 0 << free << (free > 0);
    for (const int free : {0, 4, 16, 48})
        QTest::addRow("40 KiB file, %d KiB free", free) << "plain" << 40000 << free << (free > 40);
    // clang-format off
    QTest::newRow("bound into a read-only folder") << "bound, read-only folder" << 0 << -1 << true;
    QTest::newRow("bound into a writable folder") << "bound" << 0 << -1 << true;
    // clang-format on
    // 3900 bytes of ballast take one page before the save and two after it.
    // clang-format off
    QTest::newRow("bound into a read-only folder, disk full") << "bound, read-only folder" << 3900 << 0 << false;
    // clang-format on
}

void TestConfiguration::savesOnASmallDiskWholeOrNotAtAll()
{
    QFETCH(QString, layout);
    QFETCH(int, ballast);
    QFETCH(int, freeKiB);
    QFETCH(bool, saved);
    const bool bound = layout.startsWith("bound");
    const QByteArray before
        = QJsonDocument(QJsonObject{{"ip_address", "10.0.0.1"}, {"ballast", QString(ballast, QLatin1Char('b'))}})
              .toJson();
    const QString folder = QCoreApplication::applicationDirPath();
    // Where the file's own content lies: the folder itself, or a data folder bound into it.
    const QString stored = bound ? folder + "/data/settings.json" : folder + "/settings.json";
    const QString after = scratch.filePath("after");
    const QString listing = scratch.filePath("listing");
    QFile::remove(after);
    QFile::remove(listing);

    const auto prepare = [&] {
        if (bound) {
            QDir(folder).mkdir("data");
            writeFile(besideExecutable("settings.json"), QByteArray());
        }
        writeFile(stored, before);
        if (bound
            && ::mount(QFile::encodeName(stored).constData(),
                       QFile::encodeName(besideExecutable("settings.json")).constData(), nullptr, MS_BIND, nullptr)
                   != 0)
            ::_exit(NoPrivateMounts);
    };
    const auto work = [&] {
        if (layout.endsWith("read-only folder")
            && ::mount(nullptr, QFile::encodeName(folder).constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY,
                       nullptr)
                   != 0)
            ::_exit(NoPrivateMounts);
        store->init();
        store->_netIp = "10.0.0.2";
        store->saveConfiguration();
        writeFile(after, readFile(stored));
        writeFile(listing, folderEntries(folder).join('\n').toUtf8());
    };
    QVERIFY_SMALL_DISK(onSmallDisk(freeKiB < 0 ? -1 : freeKiB * 1024, prepare, work));

    const QByteArray content = readFile(after);
    if (saved) {
        const QJsonObject settings = QJsonDocument::fromJson(content).object();
        QCOMPARE(settings.value("ip_address").toString(), QString("10.0.0.2"));
        QCOMPARE(settings.value("ballast").toString().size(), ballast);
        QCOMPARE(settings.size(), 8);
    } else {
        QCOMPARE(content, before);
    }
    // No temporary file is left, whatever happened.
    QStringList entries{"settings.json"};
    if (bound)
        entries << "data";
    if (freeKiB >= 0)
        entries << "filler";
    entries.sort();
    QCOMPARE(QString::fromUtf8(readFile(listing)), entries.join('\n'));
}

// The reason the store writes through its own checked calls: Qt 5.15's
// QSaveFile keeps a small write in its buffer, loses it at the full disk, and
// still reports success. Should a later Qt notice it, this fails, and the
// store's own writing may be looked at again.
void TestConfiguration::qtSaveFileStillCommitsAShortWrite()
{
    const QString outcome = scratch.filePath("qsavefile");
    QFile::remove(outcome);
    const auto work = [&] {
        QSaveFile file(besideExecutable("pinned.json"));
        const bool opened = file.open(QIODevice::WriteOnly);
        const qint64 written = file.write(QByteArray(100, 'x'));
        const bool committed = file.commit();
        writeFile(outcome, QString("%1 %2 %3 %4")
                               .arg(opened)
                               .arg(written)
                               .arg(committed)
                               .arg(QFileInfo(besideExecutable("pinned.json")).size())
                               .toUtf8());
    };
    QVERIFY_SMALL_DISK(onSmallDisk(
        0, [] {}, work));
    QCOMPARE(QString::fromUtf8(readFile(outcome)), QString("1 100 1 0"));
}

// A settings.json linked to a data partition stays a link: the file behind it
// gets the new content, keeping its owner and mode.
void TestConfiguration::aLinkedSettingsFileIsSavedAtItsTargetWithItsOwnerAndMode()
{
    QVERIFY(QDir(scratch.path()).mkpath("data"));
    const QString target = scratch.filePath("data/settings.json");
    writeFile(target, R"({"ip_address": "10.0.0.1", "kiosk_url": "http://plant/"})");
    if (::chown(QFile::encodeName(target).constData(), 4321, 4322) != 0)
        QSKIP("changing a file's owner needs root");
    QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0640), 0);
    // Two links: settings.json -> relative link in the data folder -> the file.
    QVERIFY(QFile::link("settings.json", scratch.filePath("data/current")));
    QVERIFY(QFile::link(scratch.filePath("data/current"), besideExecutable("settings.json")));

    store->init();
    QCOMPARE(store->_netIp, QString("10.0.0.1"));
    store->_netIp = "10.0.0.2";
    store->saveConfiguration();

    QVERIFY(QFileInfo(besideExecutable("settings.json")).isSymLink());
    QVERIFY(QFileInfo(scratch.filePath("data/current")).isSymLink());
    const QJsonObject saved = QJsonDocument::fromJson(readFile(target)).object();
    QCOMPARE(saved.value("ip_address").toString(), QString("10.0.0.2"));
    QCOMPARE(saved.value("kiosk_url").toString(), QString("http://plant/"));
    struct stat status;
    QCOMPARE(::stat(QFile::encodeName(target).constData(), &status), 0);
    QCOMPARE(status.st_uid, uid_t(4321));
    QCOMPARE(status.st_gid, gid_t(4322));
    QCOMPARE(status.st_mode & 07777, mode_t(0640));
    QCOMPARE(folderEntries(scratch.filePath("data")), (QStringList{"current", "settings.json"}));
    QVERIFY(QFile::remove(besideExecutable("settings.json")));
}

// A save killed between its steps leaves its temporary file; the next save
// removes it. Only ours: the file's name, a point and six mixed-case letters,
// a regular file, and not held by a save that still runs.
void TestConfiguration::staleTemporaryFilesOfOurOwnAreRemovedAtTheNextSave()
{
    const QString folder = QCoreApplication::applicationDirPath();
    const QString elsewhere = scratch.filePath("not-ours");
    writeFile(elsewhere, "keep");
    const QStringList stale = {"settings.json.AbCdEf", "settings.json.cGYceJ"};
    const QStringList kept
        = {"settings.json.backup", "settings.json.BACKUP", "settings.json.Ab1dEf", "settings.json.AbCdEfG",
           "header.txt.AbCdEf",    "settings.json.HeLdOn", "settings.json.LiNkEd", "settings.json.FoLdEr"};
    for (const QString &name : stale + kept.mid(0, 6))
        writeFile(besideExecutable(name), "{\n    \"ip_");
    QVERIFY(QFile::link(elsewhere, besideExecutable("settings.json.LiNkEd")));
    QVERIFY(QDir(folder).mkdir("settings.json.FoLdEr"));
    const int held = ::open(QFile::encodeName(besideExecutable("settings.json.HeLdOn")).constData(), O_RDONLY);
    QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
    auto cleanUp = qScopeGuard([&] {
        ::close(held);
        for (const QString &name : stale + kept)
            QFile::remove(besideExecutable(name));
        QDir(folder).rmdir("settings.json.FoLdEr");
    });

    store->_netIp = "10.0.0.3";
    store->saveConfiguration();
    QStringList expected = kept;
    expected << "settings.json";
    expected.sort();
    QCOMPARE(QDir(folder).entryList({"settings.json*", "header.txt*"},
                                    QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name),
             expected);
    QCOMPARE(readFile(elsewhere), QByteArray("keep"));
    QVERIFY(readFile(besideExecutable("settings.json")).contains("10.0.0.3"));
}

// The save answers whether the new content reached the file, and the last
// line it logs says why not (or, for a file rewritten where it lies, why there).
// "%1" in the message is the path saved to.
void TestConfiguration::aSaveTellsWhetherTheFileWasSaved_data()
{
    const QByteArray before = "{\n    \"ip_address\": \"10.0.0.1\"\n}\n";
    const QByteArray after = "{\n    \"ip_address\": \"10.0.0.2\"\n}\n";
    const QString prefix = "Configuration::saveConfiguration() ";
    QTest::addColumn<QString>("layout");
    QTest::addColumn<bool>("saved");
    QTest::addColumn<QByteArray>("stored"); // what the file holds afterwards
    QTest::addColumn<QString>("lastMessage");
    QTest::newRow("new file") << "new file" << true << after << QString();
    QTest::newRow("existing file") << "existing file" << true << after << QString();
    QTest::newRow("link to a file") << "link" << true << after << QString();
    QTest::newRow("circle of links") << "circle" << false << QByteArray() << prefix + "[%1] is a circle of links";
    QTest::newRow("folder") << "folder" << false << QByteArray() << prefix + "[%1] is not a regular file";
    QTest::newRow("missing folder") << "missing folder" << false << QByteArray()
                                    << prefix + "cannot create a file beside [%1]: No such file or directory";
    QTest::newRow("immutable file") << "immutable file" << false << before
                                    << prefix + "[%1] is not writable: Operation not permitted";
    QTest::newRow("immutable folder, file in it")
        << "immutable folder" << true << after
        << prefix + "cannot create a file beside [%1] (Operation not permitted): writing it where it lies";
    QTest::newRow("immutable folder, no file")
        << "immutable folder, no file" << false << QByteArray() << prefix + "[%1] cannot be created";
}

void TestConfiguration::aSaveTellsWhetherTheFileWasSaved()
{
    QFETCH(QString, layout);
    QFETCH(bool, saved);
    QFETCH(QByteArray, stored);
    QFETCH(QString, lastMessage);
    const QByteArray before = "{\n    \"ip_address\": \"10.0.0.1\"\n}\n";
    const QByteArray after = "{\n    \"ip_address\": \"10.0.0.2\"\n}\n";
    QTemporaryDir device;
    QVERIFY(device.isValid());
    const QString folder = layout == "missing folder" ? device.filePath("gone") : device.path();
    const QString path = folder + "/settings.json";
    // Where the content lies: behind the link, or the file itself.
    const QString content = layout == "link" ? device.filePath("data.json") : path;
    if (layout == "existing file" || layout == "immutable file" || layout == "immutable folder" || layout == "link")
        writeFile(content, before);
    if (layout == "link")
        QVERIFY(QFile::link(content, path));
    if (layout == "circle")
        QVERIFY(QFile::link(path, path));
    if (layout == "folder")
        QVERIFY(QDir(folder).mkdir("settings.json"));
    const QString locked
        = layout == "immutable file" ? path : (layout.startsWith("immutable folder") ? folder : QString());
    if (!locked.isEmpty() && !setImmutable(locked, true))
        QSKIP("this file system cannot make a file or folder unwritable for root");
    auto unlock = qScopeGuard([locked] {
        if (!locked.isEmpty())
            setImmutable(locked, false);
    });

    capturedMessages.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureMessage);
    const bool result = saveSettingsFile(path, after);
    qInstallMessageHandler(previous);

    QCOMPARE(result, saved);
    QCOMPARE(capturedMessages.value(capturedMessages.size() - 1),
             lastMessage.isNull() ? QString() : lastMessage.arg(path));
    QCOMPARE(readFile(content), stored);
    if (layout == "link")
        QVERIFY(QFileInfo(path).isSymLink());
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
        QVERIFY2(error.error == QJsonParseError::NoError,
                 qPrintable(QString("run %1: %2").arg(run).arg(error.errorString())));
        const QString address = content.value("ip_address").toString();
        QVERIFY2(address == "10.0.0.1" || address == "10.0.0.2",
                 qPrintable(QString("run %1: %2").arg(run).arg(address)));
        QCOMPARE(content.value("ballast").toString().size(), address == "10.0.0.1" ? 0 : 200000);
        // Each start's first save removes what the previous, killed one left.
        const QStringList leftovers = QDir(device.path()).entryList({"settings.json.*"}, QDir::Files | QDir::Hidden);
        QVERIFY2(leftovers.size() <= 1, qPrintable(QString("run %1: %2").arg(run).arg(leftovers.join(' '))));
    }
    QVERIFY2(interrupted > 250, "the saver ended before it could be interrupted");
}

QTEST_GUILESS_MAIN(TestConfiguration)
#include "tst_configuration.moc"
