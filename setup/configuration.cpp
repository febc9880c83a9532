#include "configuration.h"
#include "settingsfile.h"

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
#include <QSysInfo>
#include <QTextStream>
#include <QThread>
#include <QtEndian>

#include <cerrno>
#include <fcntl.h>
#include <linux/kd.h>
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
