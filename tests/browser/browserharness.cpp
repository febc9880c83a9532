#include "browserharness.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRegularExpression>
#include <QTcpSocket>
#include <QTest>
#include <QtEndian>

#include "sandboxguard.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/types.h>
#include <unistd.h>

// ---------------------------------------------------------------------------
// VirtualDisplay
// ---------------------------------------------------------------------------

VirtualDisplay::~VirtualDisplay()
{
    endProcess(_server);
}

bool VirtualDisplay::start(QString *error)
{
    // -displayfd 1: Xvfb picks a free number and writes it to our pipe once it
    // accepts connections. -br: a black root window, so that "no browser on the
    // screen" is one colour too.
    _server.setProcessChannelMode(QProcess::SeparateChannels);
    _server.start("Xvfb", {"-displayfd", "1", "-screen", "0", QString("%1x%2x24").arg(WIDTH).arg(HEIGHT), "-br",
                           "-nolisten", "tcp", "-noreset"});
    if (!_server.waitForStarted(10000)) {
        *error = "Xvfb did not start: " + _server.errorString();
        return false;
    }
    QElapsedTimer clock;
    clock.start();
    QByteArray number;
    while (!number.contains('\n') && clock.elapsed() < 30000) {
        if (_server.state() != QProcess::Running) {
            *error = "Xvfb ended: " + QString::fromLocal8Bit(_server.readAllStandardError());
            return false;
        }
        _server.waitForReadyRead(200);
        number += _server.readAllStandardOutput();
    }
    if (!number.contains('\n')) {
        *error = "Xvfb named no display within 30 s";
        return false;
    }
    _name = ":" + QString::fromLatin1(number.trimmed());
    return true;
}

namespace {

// Where a failed test leaves its last screenshot: the build folder, named
// after the test function and its data row.
QString failureScreenPath()
{
    QString name = QString("%1-%2.png")
                       .arg(QTest::currentTestFunction(), QTest::currentDataTag() ? QTest::currentDataTag() : "");
    name.replace(QRegularExpression("[^A-Za-z0-9.-]"), "_");
    return QStringLiteral(BROWSER_TEST_ARTIFACTS) + "/" + name;
}

int shiftOf(quint32 mask)
{
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// xwd's dump format: a header of big-endian 32-bit fields, the window name, the
// colour map, then the pixels in the server's byte order.
QImage imageFromXwd(const QByteArray &dump)
{
    enum {
        HeaderSize,
        Width = 4,
        Height,
        ByteOrder = 7,
        BitsPerPixel = 11,
        BytesPerLine,
        RedMask = 14,
        GreenMask,
        BlueMask,
        ColourCount = 19,
        FieldCount = 25
    };
    if (dump.size() < FieldCount * 4)
        return {};
    const uchar *bytes = reinterpret_cast<const uchar *>(dump.constData());
    auto field = [bytes](int index) { return qFromBigEndian<quint32>(bytes + 4 * index); };
    const quint32 width = field(Width);
    const quint32 height = field(Height);
    const quint32 bytesPerLine = field(BytesPerLine);
    const qint64 offset = qint64(field(HeaderSize)) + qint64(field(ColourCount)) * 12;
    if (field(BitsPerPixel) != 32 || offset + qint64(bytesPerLine) * height > dump.size())
        return {};
    const bool littleEndian = field(ByteOrder) == 0;
    const quint32 masks[3] = {field(RedMask), field(GreenMask), field(BlueMask)};
    int shifts[3];
    for (int i = 0; i < 3; ++i)
        shifts[i] = shiftOf(masks[i]);

    QImage image(int(width), int(height), QImage::Format_RGB32);
    for (quint32 y = 0; y < height; ++y) {
        const uchar *line = bytes + offset + qint64(y) * bytesPerLine;
        QRgb *out = reinterpret_cast<QRgb *>(image.scanLine(int(y)));
        for (quint32 x = 0; x < width; ++x) {
            const quint32 pixel
                = littleEndian ? qFromLittleEndian<quint32>(line + 4 * x) : qFromBigEndian<quint32>(line + 4 * x);
            out[x] = qRgb(int((pixel & masks[0]) >> shifts[0]), int((pixel & masks[1]) >> shifts[1]),
                          int((pixel & masks[2]) >> shifts[2]));
        }
    }
    return image;
}

// The share of the screen's pixels that are exactly this colour, 0 to 1.
double coverage(const QImage &screen, QRgb colour)
{
    if (screen.isNull())
        return 0;
    qint64 matching = 0;
    for (int y = 0; y < screen.height(); ++y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(screen.constScanLine(y));
        for (int x = 0; x < screen.width(); ++x)
            matching += (line[x] & 0xffffff) == (colour & 0xffffff);
    }
    return double(matching) / (qint64(screen.width()) * screen.height());
}

} // namespace

QImage VirtualDisplay::grab() const
{
    QProcess xwd;
    xwd.start("xwd", {"-root", "-silent", "-display", _name});
    if (!xwd.waitForFinished(10000) || xwd.exitCode() != 0)
        return {};
    return imageFromXwd(xwd.readAllStandardOutput());
}

bool VirtualDisplay::showsOnly(QRgb colour)
{
    _lastScreen = grab();
    return coverage(_lastScreen, colour) == 1.0;
}

QString VirtualDisplay::describeLastScreen(QRgb colour) const
{
    if (_lastScreen.isNull())
        return "no screenshot could be taken";
    const QRgb centre = _lastScreen.pixel(_lastScreen.width() / 2, _lastScreen.height() / 2);
    return QString("%1 at the centre, %2% of the screen is %3")
        .arg(QColor(centre).name())
        .arg(coverage(_lastScreen, colour) * 100, 0, 'f', 1)
        .arg(QColor(colour).name());
}

void VirtualDisplay::saveLastScreenIfFailed()
{
    if (QTest::currentTestFailed() && !_lastScreen.isNull()) {
        const QString path = failureScreenPath();
        QDir().mkpath(QStringLiteral(BROWSER_TEST_ARTIFACTS));
        if (_lastScreen.save(path))
            qWarning("last screen saved to %s", qPrintable(path));
        else
            qWarning("the last screen could not be saved to %s", qPrintable(path));
    }
    _lastScreen = QImage();
}

// ---------------------------------------------------------------------------
// PageServer
// ---------------------------------------------------------------------------

PageServer::PageServer(QObject *parent)
    : QObject(parent)
{
    connect(&_server, &QTcpServer::newConnection, this, &PageServer::slot_newConnection);
}

bool PageServer::listen()
{
    return _server.listen(QHostAddress::LocalHost);
}

QString PageServer::address(const QString &path) const
{
    return QString("http://127.0.0.1:%1%2").arg(_server.serverPort()).arg(path);
}

void PageServer::setPage(const QString &path, const QByteArray &html)
{
    setPages(path, {html});
}

void PageServer::setPages(const QString &path, const QList<QByteArray> &htmls)
{
    _pages.insert(path, htmls);
    _requests.remove(path);
}

int PageServer::requestCount(const QString &path) const
{
    return _requests.value(path);
}

void PageServer::slot_newConnection()
{
    while (QTcpSocket *socket = _server.nextPendingConnection()) {
        connect(socket, &QTcpSocket::readyRead, this, [this, socket] { answer(socket); });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    }
}

void PageServer::answer(QTcpSocket *socket)
{
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n"))
        return;
    const QList<QByteArray> requestLine = request.left(request.indexOf("\r\n")).split(' ');
    QByteArray target = requestLine.value(1);
    target = target.left(target.indexOf('?') >= 0 ? target.indexOf('?') : target.size());
    const QString path = QUrl::fromPercentEncoding(target);

    QByteArray status = "200 OK";
    QByteArray body;
    if (_pages.contains(path)) {
        const QList<QByteArray> &pages = _pages[path];
        const int served = _requests.value(path);
        body = pages.value(qMin(served, pages.size() - 1));
        _requests.insert(path, served + 1);
    } else {
        status = "404 Not Found";
    }
    // no-store: a reload must reach us, not the engine's cache.
    socket->write("HTTP/1.0 " + status
                  + "\r\nContent-Type: text/html; charset=utf-8\r\n"
                    "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: "
                  + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    socket->disconnectFromHost();
}

QByteArray colourPage(QRgb colour)
{
    return QString("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
                   "<body style=\"margin:0;background:%1\"></body></html>")
        .arg(QColor(colour).name())
        .toUtf8();
}

// ---------------------------------------------------------------------------
// Processes
// ---------------------------------------------------------------------------

namespace {

struct ProcessStat
{
    qint64 pid = 0;
    qint64 parent = 0;
    QString name;
    char state = '?';
};

bool readStat(qint64 pid, ProcessStat *stat)
{
    QFile file(QString("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray line = file.readAll();
    // The name sits in brackets and may hold blanks and brackets itself.
    const int open = line.indexOf('(');
    const int close = line.lastIndexOf(')');
    if (open < 0 || close < open)
        return false;
    const QList<QByteArray> rest = line.mid(close + 2).split(' ');
    if (rest.size() < 2)
        return false;
    stat->pid = pid;
    stat->name = QString::fromUtf8(line.mid(open + 1, close - open - 1));
    stat->state = rest[0].isEmpty() ? '?' : rest[0][0];
    stat->parent = rest[1].toLongLong();
    return true;
}

QList<ProcessStat> allProcesses()
{
    QList<ProcessStat> processes;
    const QStringList entries = QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        bool number = false;
        const qint64 pid = entry.toLongLong(&number);
        ProcessStat stat;
        if (number && readStat(pid, &stat) && stat.state != 'Z')
            processes.append(stat);
    }
    return processes;
}

} // namespace

QList<qint64> descendantsOf(qint64 pid)
{
    if (pid < 1)
        return {};
    const QList<ProcessStat> processes = allProcesses();
    QList<qint64> found;
    QList<qint64> parents{pid};
    while (!parents.isEmpty()) {
        const qint64 parent = parents.takeFirst();
        for (const ProcessStat &process : processes) {
            if (process.parent == parent && !found.contains(process.pid)) {
                found.append(process.pid);
                parents.append(process.pid);
            }
        }
    }
    return found;
}

QList<qint64> renderProcessesOf(qint64 browserPid)
{
    static const QString helper = "QtWebEngineProc"; // the kernel keeps 15 characters
    QList<qint64> renderers;
    for (qint64 pid : descendantsOf(browserPid)) {
        ProcessStat stat;
        if (!readStat(pid, &stat) || stat.name != helper)
            continue;
        // A zygote's children keep the zygote's command line.
        QFile cmdline(QString("/proc/%1/cmdline").arg(pid));
        const bool forkedByZygote = stat.parent != browserPid && processName(stat.parent) == helper;
        if (forkedByZygote
            || (cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().split('\0').contains("--type=renderer")))
            renderers.append(pid);
    }
    return renderers;
}

QList<qint64> processesNamed(const QString &comm)
{
    QList<qint64> found;
    for (const ProcessStat &process : allProcesses()) {
        if (process.name == comm.left(15))
            found.append(process.pid);
    }
    return found;
}

bool processAlive(qint64 pid)
{
    ProcessStat stat;
    return readStat(pid, &stat) && stat.state != 'Z';
}

QString processName(qint64 pid)
{
    ProcessStat stat;
    return readStat(pid, &stat) ? stat.name : QString();
}

QProcessEnvironment processEnvironment(qint64 pid)
{
    QProcessEnvironment environment;
    QFile file(QString("/proc/%1/environ").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return environment;
    for (const QByteArray &entry : file.readAll().split('\0')) {
        const int equals = entry.indexOf('=');
        if (equals > 0)
            environment.insert(QString::fromLocal8Bit(entry.left(equals)),
                               QString::fromLocal8Bit(entry.mid(equals + 1)));
    }
    return environment;
}

bool signalProcess(qint64 pid, int signal)
{
    QString why;
    if (pid < 2 || pid == qint64(::getpid())) {
        qWarning("refusing to signal pid %lld", pid);
        return false;
    }
    if (!insideSandboxPidNamespace(&why)) {
        qWarning("refusing to signal pid %lld: %s", pid, qPrintable(why));
        return false;
    }
    return ::kill(pid_t(pid), signal) == 0;
}

bool endProcess(QProcess &process, int graceMs)
{
    if (process.state() == QProcess::NotRunning)
        return true;
    const qint64 pid = process.processId();
    if (pid < 2) {
        qWarning("refusing to signal %s: QProcess holds pid %lld", qPrintable(process.program()), pid);
        return false;
    }
    process.terminate();
    if (process.waitForFinished(graceMs))
        return true;
    process.kill();
    return process.waitForFinished(5000);
}

QList<qint64> killAllNamed(const QStringList &names)
{
    QList<qint64> killed;
    for (const QString &name : names) {
        for (qint64 pid : processesNamed(name)) {
            if (signalProcess(pid, SIGKILL))
                killed.append(pid);
        }
    }
    return killed;
}

QProcessEnvironment browserEnvironment(const VirtualDisplay &display, const QString &home)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // Whatever the test runner had must not help the browser: it sets these itself.
    environment.remove("QT_QPA_PLATFORM");
    environment.remove("QTWEBENGINE_DISABLE_SANDBOX");
    environment.remove("QT_QPA_EGLFS_KMS_CONFIG");
    environment.insert("DISPLAY", display.name());
    environment.insert("QT_QPA_EGLFS_INTEGRATION", "eglfs_x11");
    environment.insert("HOME", home);
    const QString runtime = home + "/runtime";
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    environment.insert("XDG_RUNTIME_DIR", runtime);
    return environment;
}

// ---------------------------------------------------------------------------
// BrowserRun
// ---------------------------------------------------------------------------

BrowserRun::BrowserRun(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment)
{
    _process.setProcessChannelMode(QProcess::MergedChannels);
    _process.setProcessEnvironment(environment);
    _process.start(program, arguments);
    _process.waitForStarted(10000);
}

BrowserRun::~BrowserRun()
{
    stop();
}

void BrowserRun::stop()
{
    if (_process.state() == QProcess::NotRunning)
        return;
    const QList<qint64> helpers = descendantsOf(_process.processId());
    endProcess(_process, 10000);
    output();
    // The engine's helpers notice their parent's end on their own; a test
    // must not leave one behind for the next.
    if (!waitForGone(helpers, 10000)) {
        for (qint64 pid : helpers)
            signalProcess(pid, SIGKILL);
        waitForGone(helpers, 5000);
    }
}

bool waitForEmptyScreen(const VirtualDisplay &display, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (coverage(display.grab(), qRgb(0, 0, 0)) < 1.0) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(50);
    }
    return true;
}

bool waitForGone(const QList<qint64> &pids, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        bool any = false;
        for (qint64 pid : pids)
            any = any || processAlive(pid);
        if (!any)
            return true;
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(50);
    }
}
