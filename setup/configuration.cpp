#include "configuration.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonValue>
#include <QNetworkAddressEntry>
#include <QNetworkInterface>
#include <QProcess>
#include <QRandomGenerator>
#include <QSysInfo>
#include <QTextStream>
#include <QThread>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/kd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

Configuration *Configuration::_instation = nullptr;

const QString Configuration::DEFAULT_NETWORK_INTERFACE = QStringLiteral("eth0");
const QString Configuration::TEXT_FILE_NAME = QStringLiteral("header.txt");
const QString Configuration::CONFIGURATION_FILE_NAME = QStringLiteral("settings.json");

namespace {

const int CommandTimeoutMs = 30000;

// The serial number and the header need only a few bytes; the settings file is
// ours and holds a few hundred. The bounds matter when a path names something
// endless, and for the settings because parsing JSON takes many times the
// file's size in memory: a file above the bound is passed over like one that
// cannot be read.
const qint64 SerialReadLimit = 4 * 1024;
const qint64 HeaderReadLimit = 16 * 1024;
const qint64 SettingsReadLimit = 1024 * 1024;

// After killall, a DHCP client started with "-R" still releases its lease and
// runs its deconfiguration script, which flushes eth0. Waiting for it to end
// keeps that flush from landing on top of the static address added next. A
// busy device may take seconds for that script; the bound is that of any
// other command, so only a client that hangs is left behind.
const int DhcpClientExitTimeoutMs = CommandTimeoutMs;

QString pathBesideExecutable(const QString &fileName)
{
    return QCoreApplication::applicationDirPath() + QDir::separator() + fileName;
}

// Reads at most `limit` bytes and never waits: "-q" runs at boot, and a
// serial-number path may name a device, a FIFO without writer or a huge file.
// Returns false when the file cannot be opened, like QFile::open would.
bool readBoundedPrefix(const QString &path, qint64 limit, QByteArray *content)
{
    const QByteArray nativePath = QFile::encodeName(path);
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat status;
    if (::fstat(fd, &status) != 0 || S_ISDIR(status.st_mode)) {
        ::close(fd);
        return false;
    }
    content->clear();
    char buffer[4096];
    while (content->size() < limit) {
        const size_t wanted = size_t(qMin<qint64>(sizeof buffer, limit - content->size()));
        const ssize_t got = ::read(fd, buffer, wanted);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) // end of file, an error, or nothing to read without waiting
            break;
        content->append(buffer, int(got));
    }
    ::close(fd);
    return true;
}

// A line or file content as the panel shows it: up to the first NUL byte, with
// every line feed removed; a carriage return stays.
QString textUpToNulWithoutLineFeeds(const QByteArray &bytes)
{
    QByteArray text = bytes.left(bytes.indexOf('\0') < 0 ? bytes.size() : bytes.indexOf('\0'));
    text.replace('\n', QByteArray());
    return QString::fromUtf8(text);
}

// Up to two lines, each with its line feed (as QIODevice::readLine gives them).
QList<QByteArray> firstTwoLines(const QByteArray &content)
{
    QList<QByteArray> lines;
    int start = 0;
    while (lines.size() < 2 && start < content.size()) {
        const int end = content.indexOf('\n', start);
        const int next = end < 0 ? content.size() : end + 1;
        lines.append(content.mid(start, next - start));
        start = next;
    }
    return lines;
}

void assignString(const QJsonObject &settings, const QString &key, QString *member)
{
    const QJsonValue value = settings.value(key);
    if (value.isString())
        *member = value.toString();
}

void assignBool(const QJsonObject &settings, const QString &key, bool *member)
{
    const QJsonValue value = settings.value(key);
    if (value.isBool())
        *member = value.toBool();
}

// Flushes the directory entry of a renamed file to disk; without it a power cut
// right after the rename can bring back the old name's content, or none.
void syncDirectory(const QByteArray &directory)
{
    const int fd = ::open(directory.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    ::fsync(fd);
    ::close(fd);
}

// --- Saving the settings file ---
//
// Nothing a save writes is trusted until the kernel has taken every byte and
// the sync has succeeded: a full disk shows as a short write, as ENOSPC, or only
// at the sync. The previous file is changed only after that.

enum class SaveOutcome {
    Saved,
    Failed,  // nothing was changed; trying another way could only do harm
    NotHere, // this way cannot work where the file lies; nothing was changed
};

bool writeWhole(int fd, const QByteArray &bytes)
{
    const char *data = bytes.constData();
    qint64 offset = 0;
    while (offset < bytes.size()) {
        const ssize_t written = ::pwrite(fd, data + offset, size_t(bytes.size() - offset), off_t(offset));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            if (written == 0)
                errno = ENOSPC;
            return false;
        }
        offset += written;
    }
    return true;
}

QByteArray folderOf(const QByteArray &path)
{
    const int slash = path.lastIndexOf('/');
    return slash <= 0 ? QByteArray(slash == 0 ? "/" : ".") : path.left(slash);
}

QByteArray nameOf(const QByteArray &path)
{
    return path.mid(path.lastIndexOf('/') + 1);
}

// A settings.json that is a symbolic link (to a data partition, say) is saved
// at its target: replacing the link by a plain file would leave the data
// partition stale. Empty when the links go round in a circle.
QByteArray fileBehindLinks(const QByteArray &path)
{
    QByteArray current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat status;
        if (::lstat(current.constData(), &status) != 0 || !S_ISLNK(status.st_mode))
            return current;
        QByteArray target(4096, '\0');
        const ssize_t length = ::readlink(current.constData(), target.data(), size_t(target.size()));
        if (length <= 0 || length >= target.size())
            return QByteArray();
        target.truncate(int(length));
        current = target.startsWith('/') ? target : folderOf(current) + '/' + target;
    }
    return QByteArray();
}

// Temporary files are the file's name, a point and six letters, both small and
// capital ones: the names that this program (and the Qt save it used before)
// gives them, and not the "settings.json.backup" that somebody keeps.
bool isTemporarySuffix(const QByteArray &suffix)
{
    bool small = false;
    bool capital = false;
    for (const char c : suffix) {
        if (c >= 'a' && c <= 'z')
            small = true;
        else if (c >= 'A' && c <= 'Z')
            capital = true;
        else
            return false;
    }
    return suffix.size() == 6 && small && capital;
}

bool isTemporaryName(const QByteArray &entry, const QByteArray &name)
{
    return entry.startsWith(name + '.') && isTemporarySuffix(entry.mid(name.size() + 1));
}

// A save killed between its steps leaves its temporary file behind. Those are
// removed at the next save: only regular files of our naming, never through a
// link, and never one that a running save holds locked.
void removeStaleTemporaries(const QByteArray &folder, const QByteArray &name)
{
    DIR *directory = ::opendir(folder.constData());
    if (!directory)
        return;
    const int folderFd = ::dirfd(directory);
    while (const dirent *entry = ::readdir(directory)) {
        if (!isTemporaryName(QByteArray(entry->d_name), name))
            continue;
        const int fd = ::openat(folderFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat opened;
        struct stat named;
        if (::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::fstatat(folderFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_ino == opened.st_ino
            && named.st_dev == opened.st_dev) {
            qInfo("Configuration::saveConfiguration() removing the stale temporary file [%s]", entry->d_name);
            ::unlinkat(folderFd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(directory);
}

// Creates "<target>.XXXXXX" beside the target, locked against the clean-up of
// another save. Returns the descriptor, or -1 with errno set.
int createTemporary(const QByteArray &target, QByteArray *temporaryPath)
{
    static const char Letters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    for (int attempt = 0; attempt < 100; ++attempt) {
        QByteArray suffix(6, 'a');
        do {
            for (char &c : suffix)
                c = Letters[QRandomGenerator::global()->bounded(52)];
        } while (!isTemporarySuffix(suffix));
        *temporaryPath = target + '.' + suffix;
        const int fd = ::open(temporaryPath->constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX);
            return fd;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

mode_t modeForNewFiles()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

bool isSomewhereThatCannotHoldAReplacement(int error)
{
    // A read-only folder or file system, a folder made immutable, or a file that
    // is a mount point of its own (a bind mount), which rename cannot replace.
    return error == EROFS || error == EACCES || error == EPERM || error == EBUSY || error == EXDEV;
}

// The power-cut-safe way: the new content goes to a temporary file beside the
// target, reaches the disk, and only then replaces it, so the file is always
// either the old or the new settings. The replacement gets the old file's owner
// and mode; where it could not keep the owner, the save is not done this way.
SaveOutcome replaceWholeFile(const QByteArray &target, const struct stat *previous, const QByteArray &content)
{
    const char *failedStep = nullptr;
    int error = 0;
    SaveOutcome outcome = SaveOutcome::Saved;
    const auto fail = [&](const char *step, bool cannotWorkHere) {
        failedStep = step;
        error = errno;
        outcome = cannotWorkHere || isSomewhereThatCannotHoldAReplacement(error) ? SaveOutcome::NotHere
                                                                                 : SaveOutcome::Failed;
    };
    QByteArray temporary;
    const int fd = createTemporary(target, &temporary);
    struct stat created;
    if (fd < 0) {
        fail("create a file beside", false);
    } else if (previous && ::fstat(fd, &created) == 0
               && (created.st_uid != previous->st_uid || created.st_gid != previous->st_gid)
               && ::fchown(fd, previous->st_uid, previous->st_gid) != 0) {
        fail("keep the owner of", true);
    } else if (::fchmod(fd, previous ? (previous->st_mode & 07777) : modeForNewFiles()) != 0) {
        fail("keep the mode of", true);
    } else if (!writeWhole(fd, content)) {
        fail("write", false);
    } else if (::fsync(fd) != 0) {
        fail("sync", false);
    } else if (::rename(temporary.constData(), target.constData()) != 0) {
        fail("replace", false);
    }
    if (fd >= 0) {
        if (outcome != SaveOutcome::Saved)
            ::unlink(temporary.constData());
        ::close(fd);
    }
    if (outcome == SaveOutcome::Saved)
        syncDirectory(folderOf(target));
    else if (outcome == SaveOutcome::NotHere)
        qInfo("Configuration::saveConfiguration() cannot %s [%s] (%s): writing it where it lies", failedStep,
              target.constData(), std::strerror(error));
    else
        qWarning("Configuration::saveConfiguration() cannot %s [%s]: %s", failedStep, target.constData(),
                 std::strerror(error));
    return outcome;
}

// Where the file cannot be replaced (a read-only root with a writable
// settings.json bound or linked into it), it is rewritten where it lies. The
// space for the longer of both contents is reserved first, so a full disk
// leaves the file as it was; a write that fails half-way puts the old content
// back. Only a power cut in the middle can leave a mixture.
SaveOutcome rewriteInPlace(const QByteArray &target, const QByteArray &content)
{
    const int fd = ::open(target.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        qWarning("Configuration::saveConfiguration() cannot open [%s]: %s", target.constData(), std::strerror(errno));
        return SaveOutcome::Failed;
    }
    struct stat status;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        qWarning("Configuration::saveConfiguration() [%s] is not a regular file", target.constData());
        return SaveOutcome::Failed;
    }

    QByteArray previous;
    bool previousKnown = status.st_size <= SettingsReadLimit;
    if (previousKnown) {
        previous.resize(int(status.st_size));
        previousKnown = ::pread(fd, previous.data(), size_t(previous.size()), 0) == ssize_t(previous.size());
    }
    SaveOutcome outcome = SaveOutcome::Saved;
    const char *failedStep = nullptr;
    int error = 0;
    if (content.size() > status.st_size && ::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, off_t(content.size())) != 0
        && errno != EOPNOTSUPP) {
        failedStep = "reserve space for";
        error = errno;
        outcome = SaveOutcome::Failed;
    } else if (!writeWhole(fd, content) || ::ftruncate(fd, off_t(content.size())) != 0) {
        failedStep = "write";
        error = errno;
        outcome = SaveOutcome::Failed;
        if (previousKnown && writeWhole(fd, previous))
            ::ftruncate(fd, off_t(previous.size()));
        else
            qWarning("Configuration::saveConfiguration() [%s] may be damaged", target.constData());
    }
    if (::fsync(fd) != 0 && outcome == SaveOutcome::Saved) {
        failedStep = "sync";
        error = errno;
        outcome = SaveOutcome::Failed;
    }
    if (outcome != SaveOutcome::Saved)
        qWarning("Configuration::saveConfiguration() cannot %s [%s]: %s", failedStep, target.constData(),
                 std::strerror(error));
    ::close(fd);
    return outcome;
}

void saveSettingsFile(const QString &path, const QByteArray &content)
{
    const QByteArray target = fileBehindLinks(QFile::encodeName(path));
    if (target.isEmpty()) {
        qWarning("Configuration::saveConfiguration() [%s] is a circle of links", qPrintable(path));
        return;
    }
    removeStaleTemporaries(folderOf(target), nameOf(target));

    struct stat status;
    const bool exists = ::stat(target.constData(), &status) == 0;
    if (exists && !S_ISREG(status.st_mode)) {
        qWarning("Configuration::saveConfiguration() [%s] is not a regular file", target.constData());
        return;
    }
    // A file that is read-only on purpose stays so, whatever its folder allows.
    if (exists && ::access(target.constData(), W_OK) != 0) {
        qWarning("Configuration::saveConfiguration() [%s] is not writable: %s", target.constData(),
                 std::strerror(errno));
        return;
    }
    if (replaceWholeFile(target, exists ? &status : nullptr, content) != SaveOutcome::NotHere)
        return;
    if (exists)
        rewriteInPlace(target, content);
    else
        qWarning("Configuration::saveConfiguration() [%s] cannot be created", target.constData());
}

// The one place that runs a system program and waits for it. The outcome is
// deliberately not examined: the panel has nobody to report it to.
void runAndWait(QProcess &process, const QString &program, const QStringList &arguments)
{
    process.start(program, arguments, QIODevice::ReadWrite);
    process.waitForFinished(CommandTimeoutMs);
}

void runDetached(const QString &program, const QStringList &arguments)
{
    QProcess::startDetached(program, arguments);
}

bool isLiveProcessNamed(const QString &procEntry, const QByteArray &name)
{
    QFile stat(procEntry + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly))
        return false;
    // "pid (comm) state ...": comm may itself hold blanks and parentheses.
    const QByteArray line = stat.readAll();
    const int open = line.indexOf('(');
    const int close = line.lastIndexOf(')');
    if (open < 0 || close < open || close + 2 >= line.size())
        return false;
    const bool zombie = line.at(close + 2) == 'Z';
    return !zombie && line.mid(open + 1, close - open - 1) == name;
}

bool anyLiveProcessNamed(const QByteArray &name)
{
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool isPid = false;
        entry.toInt(&isPid);
        if (isPid && isLiveProcessNamed(QStringLiteral("/proc/") + entry, name))
            return true;
    }
    return false;
}

void waitForDhcpClientsToEnd()
{
    QDeadlineTimer deadline(DhcpClientExitTimeoutMs);
    while (anyLiveProcessNamed("udhcpc")) {
        if (deadline.hasExpired()) {
            qWarning("Configuration::initNetwork() a DHCP client still runs after %d ms", DhcpClientExitTimeoutMs);
            return;
        }
        QThread::msleep(20);
    }
}

} // namespace

Configuration::Configuration()
{
    _instation = this;
    init();
}

Configuration *Configuration::instation()
{
    if (!_instation)
        new Configuration();
    return _instation;
}

void Configuration::init()
{
    _hostName = QSysInfo::machineHostName();
    _macAddress = getMacAddressByName(DEFAULT_NETWORK_INTERFACE);
    const QString currentIpAddress = getCurretnIpAddress(DEFAULT_NETWORK_INTERFACE);
    const QString currentNetmask = getCurrentNetmask(DEFAULT_NETWORK_INTERFACE);

    const QString configurationFilePath = pathBesideExecutable(CONFIGURATION_FILE_NAME);
    qInfo("Configuration::init() configurationFilePath[%s] _hostName[%s] _macAddress[%s] currIpAddress[%s] "
          "currNetMask[%s]",
          configurationFilePath.toLocal8Bit().constData(), _hostName.toLocal8Bit().constData(),
          _macAddress.toLocal8Bit().constData(), currentIpAddress.toLocal8Bit().constData(),
          currentNetmask.toLocal8Bit().constData());

    QByteArray settingsText;
    if (readBoundedPrefix(configurationFilePath, SettingsReadLimit + 1, &settingsText)) {
        if (settingsText.size() > SettingsReadLimit)
            qWarning("Configuration::init() the settings file is larger than %lld bytes: not loaded",
                     SettingsReadLimit);
        else
            _jsonObject = QJsonDocument::fromJson(settingsText).object();
    }

    QByteArray headerText;
    if (readBoundedPrefix(pathBesideExecutable(TEXT_FILE_NAME), HeaderReadLimit, &headerText)) {
        const QList<QByteArray> lines = firstTwoLines(headerText);
        _textHeaderValue1 = textUpToNulWithoutLineFeeds(lines.value(0));
        _textHeaderValue2 = textUpToNulWithoutLineFeeds(lines.value(1));
    }
    qInfo() << "_textHeaderValue1:" << _textHeaderValue1;
    qInfo() << "_textHeaderValue2:" << _textHeaderValue2;

    assignString(_jsonObject, QStringLiteral("browser_start_command"), &_browserStartCommand);
    qInfo() << "_browserStartCommand:" << _browserStartCommand;
    assignString(_jsonObject, QStringLiteral("serial_id_file_path"), &_serialIdFilePath);

    QByteArray serialText;
    if (readBoundedPrefix(_serialIdFilePath, SerialReadLimit, &serialText))
        _serialIdValue = textUpToNulWithoutLineFeeds(serialText);
    _serialIdValue.truncate(20);
    qInfo("_serialIdFilePath[%s] _serialIdValue[%s]", _serialIdFilePath.toLocal8Bit().constData(),
          _serialIdValue.toLocal8Bit().constData());

    assignString(_jsonObject, QStringLiteral("ip_address"), &_netIp);
    qInfo() << "_netIp:" << _netIp;
    assignString(_jsonObject, QStringLiteral("ip_mask"), &_netMask);
    qInfo() << "_netMask:" << _netMask;
    assignString(_jsonObject, QStringLiteral("ip_gateway"), &_netGateway);
    qInfo() << "_netGateway:" << _netGateway;
    assignBool(_jsonObject, QStringLiteral("dhcp_enable"), &_dhcpEnable);
    qInfo() << "_dhcpEnable:" << _dhcpEnable;
    assignBool(_jsonObject, QStringLiteral("show_cmd_button"), &_showCmdButton);
    qInfo() << "_showCmdButton:" << _showCmdButton;
}

void Configuration::saveConfiguration()
{
    _jsonObject.insert(QStringLiteral("browser_start_command"), _browserStartCommand);
    _jsonObject.insert(QStringLiteral("serial_id_file_path"), _serialIdFilePath);
    _jsonObject.insert(QStringLiteral("ip_address"), _netIp);
    _jsonObject.insert(QStringLiteral("ip_mask"), _netMask);
    _jsonObject.insert(QStringLiteral("ip_gateway"), _netGateway);
    _jsonObject.insert(QStringLiteral("dhcp_enable"), _dhcpEnable);
    _jsonObject.insert(QStringLiteral("show_cmd_button"), _showCmdButton);

    // The panel may lose power at any moment, and its disk may be full: a save
    // that cannot be done whole leaves the previous file as it was.
    saveSettingsFile(pathBesideExecutable(CONFIGURATION_FILE_NAME),
                     QJsonDocument(_jsonObject).toJson(QJsonDocument::Indented));
}

int Configuration::clearLinuxFb()
{
    const int fd = ::open("/dev/tty0", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return -1;
    ::ioctl(fd, KDSETMODE, KD_TEXT);
    return ::close(fd);
}

void Configuration::applicationExit()
{
    QCoreApplication::exit(0);
}

namespace {

// The first interface of that name only: later ones are not looked at.
QNetworkInterface interfaceNamed(const QString &interfaceName)
{
    const QList<QNetworkInterface> interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &candidate : interfaces) {
        if (candidate.name() == interfaceName)
            return candidate;
    }
    return QNetworkInterface();
}

bool isIpv4NonLoopback(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol && !address.isLoopback();
}

} // namespace

QString Configuration::getMacAddressByName(const QString &interfaceName)
{
    const QNetworkInterface found = interfaceNamed(interfaceName);
    return found.isValid() ? found.hardwareAddress() : QString();
}

QString Configuration::getCurretnIpAddress(const QString &interfaceName)
{
    const QList<QNetworkAddressEntry> entries = interfaceNamed(interfaceName).addressEntries();
    for (const QNetworkAddressEntry &entry : entries) {
        if (isIpv4NonLoopback(entry.ip()))
            return entry.ip().toString();
    }
    return QString();
}

QString Configuration::getCurrentNetmask(const QString &interfaceName)
{
    const QList<QNetworkAddressEntry> entries = interfaceNamed(interfaceName).addressEntries();
    for (const QNetworkAddressEntry &entry : entries) {
        if (!isIpv4NonLoopback(entry.ip()))
            continue;
        const QHostAddress netmask = entry.netmask();
        if (!netmask.isNull() && netmask.toString() != QLatin1String("0.0.0.0"))
            return netmask.toString();
        const int prefixLength = entry.prefixLength();
        if (prefixLength >= 1 && prefixLength <= 32)
            return QHostAddress(quint32(0xFFFFFFFFu << (32 - prefixLength))).toString();
        qDebug() << "Netmask not available for" << interfaceName << ", prefix length:" << prefixLength;
    }
    return QString();
}

QString Configuration::getCurrentGatewayFromProc(const QString &interfaceName)
{
    QFile routes(QStringLiteral("/proc/net/route"));
    if (!routes.open(QIODevice::ReadOnly | QIODevice::Text)) {
        qDebug() << "Cannot open /proc/net/route";
        return QString();
    }
    QTextStream stream(&routes);
    stream.readLine(); // column header
    while (!stream.atEnd()) {
        const QStringList fields = stream.readLine().split(QLatin1Char('\t'));
        if (fields.size() < 3 || fields.at(0) != interfaceName)
            continue;
        bool parsed = false;
        const quint32 gateway = fields.at(2).toUInt(&parsed, 16);
        if (!parsed || gateway == 0)
            continue;
        // The kernel writes the address in the processor's byte order; the panel
        // is little-endian, so the first octet is the lowest byte.
        return QHostAddress(qbswap(gateway)).toString();
    }
    return QString();
}

void Configuration::initNetwork()
{
    qInfo("Configuration::initNetwork()");
    QProcess process;

    runAndWait(process, QStringLiteral("/usr/bin/killall"), {QStringLiteral("udhcpc")});
    process.close();
    waitForDhcpClientsToEnd();

    qInfo("Configuration::initNetwork() flush IP");
    runAndWait(process, QStringLiteral("/sbin/ip"),
               {QStringLiteral("a"), QStringLiteral("f"), QStringLiteral("dev"), QStringLiteral("eth0")});
    process.close();
    runAndWait(process, QStringLiteral("/sbin/ip"),
               {QStringLiteral("link"), QStringLiteral("set"), QStringLiteral("eth0"), QStringLiteral("up")});
    process.close();

    if (_dhcpEnable) {
        // The client outlives us on purpose: it keeps renewing the lease.
        runDetached(QStringLiteral("/sbin/udhcpc"),
                    {QStringLiteral("-t1"), QStringLiteral("-A3"), QStringLiteral("-b"), QStringLiteral("-R"),
                     QStringLiteral("-O"), QStringLiteral("search"), QStringLiteral("-O"),
                     QStringLiteral("staticroutes"), QStringLiteral("-p"), QStringLiteral("/var/run/udhcpc.eth0.pid"),
                     QStringLiteral("-i"), QStringLiteral("eth0"), QStringLiteral("-b"), QStringLiteral("-x"),
                     QStringLiteral("hostname:") + _hostName});
        return;
    }
    // The route command reuses the process object unclosed: if the address
    // command is still running, the route is skipped rather than raced.
    runAndWait(process, QStringLiteral("/sbin/ip"),
               {QStringLiteral("a"), QStringLiteral("a"), _netIp + QLatin1Char('/') + _netMask, QStringLiteral("dev"),
                QStringLiteral("eth0")});
    runAndWait(process, QStringLiteral("/sbin/ip"),
               {QStringLiteral("r"), QStringLiteral("a"), QStringLiteral("default"), QStringLiteral("via"), _netGateway,
                QStringLiteral("dev"), QStringLiteral("eth0")});
}

void Configuration::setupRtc(unsigned int secondsSinceEpoch)
{
    // Written unsigned: a signed "%i" would turn anything past 2038-01-19 into a
    // negative count and set the clock to 1901.
    QProcess date;
    runAndWait(date, QStringLiteral("/bin/date"), {QStringLiteral("-s"), QStringLiteral("@%1").arg(secondsSinceEpoch)});
    QProcess hwclock;
    runAndWait(hwclock, QStringLiteral("/sbin/hwclock"), {QStringLiteral("-w")});
}

void Configuration::startBrowser()
{
    runDetached(_browserStartCommand, {QStringLiteral("start")});
}

void Configuration::stopBrowser()
{
    runDetached(_browserStartCommand, {QStringLiteral("stop")});
}

void Configuration::doReboot()
{
    runDetached(QStringLiteral("/sbin/reboot"), {});
}
