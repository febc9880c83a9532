#ifndef BROWSERHARNESS_H
#define BROWSERHARNESS_H

// What the kiosk-browser tests need around the real binary: a virtual X display
// to draw on and to take screenshots of, a web server on 127.0.0.1, and a look
// at the process tree that the web engine builds.

#include "sandboxguard.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>

// How long a browser may take from its start to the page on the screen. An
// emulated armhf browser (BROWSER_SLOWDOWN > 1) needs 20 to 40 s where a native
// one needs about one, more when two emulated browsers share two cores.
constexpr int PAINT_TIMEOUT_MS = 20000 * BROWSER_SLOWDOWN;

// Xvfb on a display number of its own choosing (-displayfd), so that parallel
// tests never pick the same one.
class VirtualDisplay
{
public:
    static const int WIDTH = 1024;
    static const int HEIGHT = 768;

    VirtualDisplay() = default;
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    bool start(QString *error);
    QString name() const { return _name; }
    // The whole root window as the X server holds it: what a person would see.
    QImage grab() const;

    // Whether the screen, grabbed now, is this one colour edge to edge. The
    // picture is kept: for the failure message and, in a test's cleanup, as the
    // saved screen of a failed test.
    bool showsOnly(QRgb colour);
    // "#rrggbb at the centre, 37% of the screen is #ff0000" of the kept picture.
    QString describeLastScreen(QRgb colour) const;
    // For a test's cleanup: a failed test leaves its kept picture in the build
    // folder, never the source tree; then the picture is dropped either way.
    void saveLastScreenIfFailed();

private:
    QProcess _server;
    QString _name;
    QImage _lastScreen;
};

// Waits until the display shows nothing but this colour; a failure tells what
// it showed instead.
#define QTRY_SHOWS_ONLY(display, colour, timeoutMs) \
    QTRY_VERIFY2_WITH_TIMEOUT((display).showsOnly(colour), qPrintable((display).describeLastScreen(colour)), timeoutMs)

// Serves fixed pages over HTTP/1.0 on 127.0.0.1. A path may carry a sequence of
// pages: the n-th request gets the n-th page, the last one repeats, so a test
// can tell a fresh load from a picture that merely stayed on the screen.
class PageServer : public QObject
{
    Q_OBJECT

public:
    explicit PageServer(QObject *parent = nullptr);

    bool listen();
    // The address of a path, as a person would type it (not percent-encoded).
    QString address(const QString &path) const;
    void setPage(const QString &path, const QByteArray &html);
    void setPages(const QString &path, const QList<QByteArray> &htmls);
    int requestCount(const QString &path) const;

private slots:
    void slot_newConnection();

private:
    void answer(QTcpSocket *socket);

    QTcpServer _server;
    QHash<QString, QList<QByteArray>> _pages;
    QHash<QString, int> _requests;
};

// A page that is nothing but one colour, edge to edge.
QByteArray colourPage(QRgb colour);

// Processes, as /proc shows them.
// Nothing for a pid below 1: every process descends from "pid 0".
QList<qint64> descendantsOf(qint64 pid);
// The web engine's render processes below a browser: helper processes started
// with "--type=renderer" by the browser, or forked by a zygote (a helper too).
QList<qint64> renderProcessesOf(qint64 browserPid);
QList<qint64> processesNamed(const QString &comm);
bool processAlive(qint64 pid);
QString processName(qint64 pid);
// The environment a process was started with.
QProcessEnvironment processEnvironment(qint64 pid);

// These tests end processes they find in /proc by name or by parentage. In the
// host's PID namespace such a list holds other people's processes, and a pid of
// 0 or -1 reaches whole groups or everything: the machine itself. So every
// signal goes through signalProcess, and only inside the panel sandbox's own
// PID namespace, where everything seen belongs to this test run
// (insideSandboxPidNamespace and requireSandboxPidNamespace, sandboxguard.h).
// One signal to one process: refused (false, with a warning) for a pid below 2,
// for this process itself, and outside the sandbox's PID namespace.
bool signalProcess(qint64 pid, int signal);
// Ends a process this test started: SIGTERM, then SIGKILL after graceMs.
// QProcess signals whatever pid it holds, and under an emulator that cannot
// report the child's pid that is -1, "every process": so never below 2.
bool endProcess(QProcess &process, int graceMs = 5000);
// SIGKILL to every process of these names; the same guard.
QList<qint64> killAllNamed(const QStringList &names);

// What every browser started by a test gets: the display, the eglfs X11
// backend, and a home and runtime folder of its own, so that no two runs share
// the engine's profile and cache.
QProcessEnvironment browserEnvironment(const VirtualDisplay &display, const QString &home);

// One kiosk-browser for the length of a test; ends it with all its helpers.
class BrowserRun
{
public:
    BrowserRun(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment);
    ~BrowserRun();

    qint64 pid() const { return _process.processId(); }
    bool running() const { return _process.state() == QProcess::Running; }
    QByteArray output() { return _output += _process.readAll(); }
    void stop();

private:
    QProcess _process;
    QByteArray _output;
};

// Waits until the screen shows only the X root window again: the last browser's
// picture must not be mistaken for the next one's.
bool waitForEmptyScreen(const VirtualDisplay &display, int timeoutMs);
// Waits until none of these processes is left.
bool waitForGone(const QList<qint64> &pids, int timeoutMs);

#endif // BROWSERHARNESS_H
