// kiosk-browser-control, the example program for the setting
// "browser_start_command": panel-setup runs it with "start" or "stop", and it
// must put the configured page on the display and take it off again, with
// every helper process of the web engine.

#include "browserharness.h"
#include "sandboxguard.h"
#include "testfiles.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>
#include <vector>
#include <unistd.h>

namespace {

const QRgb BLUE = qRgb(0x00, 0x00, 0xff);
const QRgb GREEN = qRgb(0x00, 0xff, 0x00);
const QRgb WHITE = qRgb(0xff, 0xff, 0xff);

const QString BROWSER_NAME = "kiosk-browser";

using ScreenTest::readFile;
using ScreenTest::writeFile;

} // namespace

class TestBrowserControl : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void startShowsTheConfiguredPage_data();
    void startShowsTheConfiguredPage();
    void repeatedStartKeepsOneBrowser();
    void stopEndsTheBrowserAndItsHelpers();
    void stopLeavesAStrangerWithTheRecordedPidAlone();
    void stopKillsABrowserThatIgnoresTerm();
    void stopRightAfterStartEndsTheBrowser();
    void startWithoutARouteStartsTheBrowserAfterTheWait_data();
    void startWithoutARouteStartsTheBrowserAfterTheWait();
    void stopDuringTheNetworkWaitCancelsThatStart_data();
    void stopDuringTheNetworkWaitCancelsThatStart();
    void endsWhatABrowserThatDiedLeft_data();
    void endsWhatABrowserThatDiedLeft();
    void startKilledMidwayLeavesNoUntrackedBrowser_data();
    void startKilledMidwayLeavesNoUntrackedBrowser();
    void stopLeavesTheOrphansOfAStrangersSessionAlone();
    void stopNeverSignalsBeyondTheBrowser_data();
    void stopNeverSignalsBeyondTheBrowser();
    void panelSetupStartsAndStopsTheBrowser();
    void rejectsWrongUsage_data();
    void rejectsWrongUsage();

private:
    void writeConfiguration(const QStringList &extraLines);
    QProcessEnvironment controlEnvironment();
    int control(const QStringList &arguments, QByteArray *errors = nullptr);
    qint64 recordedPid() const;
    QString writeScript(const QString &name, const QByteArray &text);
    QString networkWithoutRoutesMissing();
    QString writeRecordingBrowser();
    void startWithoutRoutes(QProcess &start);
    QStringList browserStarts() const;

    VirtualDisplay _display;
    PageServer _server;
    QTemporaryDir _files;
    QString _pidFile;
    QString _configuration;
    QString _url;
    // Processes a test started that cleanup must end if the test could not.
    QList<qint64> _strays;
};

namespace {

// Field 22 of /proc/PID/stat: what the control program records beside the pid.
QByteArray startTimeOf(qint64 pid)
{
    const QByteArray line = readFile(QString("/proc/%1/stat").arg(pid));
    return line.mid(line.lastIndexOf(')') + 2).split(' ').value(22 - 3);
}

} // namespace

void TestBrowserControl::initTestCase()
{
    // cleanup kills whatever browser processes it finds: only ever those of
    // this sandbox's own PID namespace.
    requireSandboxPidNamespace();
    QString error;
    QVERIFY2(_display.start(&error), qPrintable(error));
    QVERIFY(_server.listen());
    QVERIFY(_files.isValid());
    _pidFile = _files.filePath("kiosk-browser.pid");
    _configuration = _files.filePath("kiosk-browser.conf");

    QVERIFY(writeFile(_files.filePath("green.html"), colourPage(GREEN)));
}

void TestBrowserControl::init()
{
    _server.setPage("/пульт/главная страница.html", colourPage(BLUE));
    _url = _server.address("/пульт/главная страница.html");
    writeConfiguration({"url=" + _url});
}

void TestBrowserControl::cleanup()
{
    _display.saveLastScreenIfFailed();
    control({"stop"});
    // Whatever a failed test left running must not show up in the next one.
    for (qint64 pid : _strays)
        signalProcess(pid, SIGKILL);
    const QList<qint64> left = _strays + killAllNamed({BROWSER_NAME, "QtWebEngineProc"});
    _strays.clear();
    QVERIFY(waitForGone(left, 10000));
    QFile::remove(_pidFile);
    QVERIFY2(waitForEmptyScreen(_display, 10000), "the last browser's picture stayed on the screen");
}

void TestBrowserControl::writeConfiguration(const QStringList &extraLines)
{
    QStringList lines{"# written by " + QString(QTest::currentTestFunction()), "pid_file=" + _pidFile,
                      "log_file=" + _files.filePath("browser.log")};
    lines << extraLines;
    QVERIFY(writeFile(_configuration, lines.join('\n').toUtf8() + '\n'));
}

QProcessEnvironment TestBrowserControl::controlEnvironment()
{
    QProcessEnvironment environment = browserEnvironment(_display, _files.filePath("home"));
    environment.insert("KIOSK_BROWSER_CONF", _configuration);
    return environment;
}

int TestBrowserControl::control(const QStringList &arguments, QByteArray *errors)
{
    QProcess process;
    process.setProcessEnvironment(controlEnvironment());
    process.start(KIOSK_BROWSER_CONTROL, arguments);
    if (!process.waitForFinished(60000)) {
        endProcess(process, 0);
        return -1;
    }
    if (errors)
        *errors = process.readAllStandardError();
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

qint64 TestBrowserControl::recordedPid() const
{
    // 0 when there is no record.
    return readFile(_pidFile).split(' ').value(0).trimmed().toLongLong();
}

QString TestBrowserControl::writeScript(const QString &name, const QByteArray &text)
{
    const QString path = _files.filePath(name);
    if (!writeFile(path, text))
        return {};
    QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    return path;
}

// Empty when the control program can run in a network namespace of its own,
// where no route is ever set up; else why not.
QString TestBrowserControl::networkWithoutRoutesMissing()
{
    QProcess probe;
    probe.start("unshare", {"-n", "cat", "/proc/net/route"});
    if (!probe.waitForFinished(10000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
        return "no network namespace of our own (unshare -n needs root): "
               + QString::fromLocal8Bit(probe.readAllStandardError() + probe.errorString().toLocal8Bit());
    // The header line at most: a namespace without an address may show none.
    const QByteArray routes = probe.readAllStandardOutput().trimmed();
    if (routes.contains('\n'))
        return "a fresh network namespace shows routes: " + QString::fromLocal8Bit(routes);
    return {};
}

// A browser that notes each start in "browser-starts", then stays until ended.
QString TestBrowserControl::writeRecordingBrowser()
{
    QFile::remove(_files.filePath("browser-starts"));
    return writeScript("recording-browser",
                       "#!/bin/sh\necho $$ >> '" + _files.filePath("browser-starts").toUtf8() + "'\nexec sleep 300\n");
}

// "start" in a network namespace of its own: only loopback, down, so no route.
void TestBrowserControl::startWithoutRoutes(QProcess &start)
{
    start.setProcessEnvironment(controlEnvironment());
    start.start("unshare", {"-n", KIOSK_BROWSER_CONTROL, "start"});
    QVERIFY(start.waitForStarted());
}

QStringList TestBrowserControl::browserStarts() const
{
    return QString::fromUtf8(readFile(_files.filePath("browser-starts"))).split('\n', Qt::SkipEmptyParts);
}

void TestBrowserControl::startShowsTheConfiguredPage_data()
{
    QTest::addColumn<QString>("urlLine");
    QTest::addColumn<QRgb>("colour");

    // The whole value is the one URL argument: it is not split at its blanks.
    // clang-format off
    QTest::newRow("http, blanks and Cyrillic") << QString() << BLUE;
    QTest::newRow("file") << "url=file://" + _files.filePath("green.html") << GREEN;
    QTest::newRow("no url: blank page") << QString("# no url") << WHITE;
    // clang-format on
}

void TestBrowserControl::startShowsTheConfiguredPage()
{
    QFETCH(QString, urlLine);
    QFETCH(QRgb, colour);

    if (!urlLine.isNull())
        writeConfiguration({urlLine});
    QCOMPARE(control({"start"}), 0);
    // The control program has ended; the browser lives on without it.
    const qint64 pid = recordedPid();
    QVERIFY(pid > 0);
    QTRY_COMPARE(processName(pid), BROWSER_NAME); // setsid may not have run it yet
    QTRY_SHOWS_ONLY(_display, colour, PAINT_TIMEOUT_MS);
}

void TestBrowserControl::repeatedStartKeepsOneBrowser()
{
    QCOMPARE(control({"start"}), 0);
    QTRY_SHOWS_ONLY(_display, BLUE, PAINT_TIMEOUT_MS);
    const qint64 first = recordedPid();

    QCOMPARE(control({"start"}), 0);
    QCOMPARE(recordedPid(), first);
    QCOMPARE(processesNamed(BROWSER_NAME), QList<qint64>{first});
    QTest::qWait(1000); // a second browser would have asked for the page by now
    QCOMPARE(processesNamed(BROWSER_NAME), QList<qint64>{first});
    QCOMPARE(_server.requestCount("/пульт/главная страница.html"), 1);
}

void TestBrowserControl::stopEndsTheBrowserAndItsHelpers()
{
    QCOMPARE(control({"start"}), 0);
    QTRY_SHOWS_ONLY(_display, BLUE, PAINT_TIMEOUT_MS);
    const qint64 browser = recordedPid();
    QVERIFY(browser > 1);
    const QList<qint64> helpers = descendantsOf(browser);
    QVERIFY(!helpers.isEmpty());

    QCOMPARE(control({"stop"}), 0);
    // When stop returns the display is free: panel-setup takes it a second later.
    QVERIFY(!processAlive(browser));
    for (qint64 pid : helpers)
        QVERIFY2(!processAlive(pid), qPrintable(QString("helper %1 outlived stop").arg(pid)));
    QVERIFY(!QFile::exists(_pidFile));
    QVERIFY(waitForEmptyScreen(_display, 10000));

    // And the next start brings the page back.
    QCOMPARE(control({"start"}), 0);
    QVERIFY(recordedPid() != browser);
    QTRY_SHOWS_ONLY(_display, BLUE, PAINT_TIMEOUT_MS);
}

// After a power cut the pid file may name a pid that now belongs to another
// program: stop must not kill it, and start must not take it for the browser.
void TestBrowserControl::stopLeavesAStrangerWithTheRecordedPidAlone()
{
    // A session leader, as the browser is: a stop that checked the pid alone
    // would end its whole process group.
    QProcess stranger;
    stranger.start("setsid", {"sleep", "300"});
    QVERIFY(stranger.waitForStarted());
    const QByteArray strangerRecord = QByteArray::number(stranger.processId()) + " 1\n";
    QVERIFY(writeFile(_pidFile, strangerRecord));

    QCOMPARE(control({"stop"}), 0);
    QTest::qWait(300);
    QCOMPARE(stranger.state(), QProcess::Running);

    QVERIFY(!QFile::exists(_pidFile)); // a stale record goes
    QVERIFY(writeFile(_pidFile, strangerRecord));
    QCOMPARE(control({"start"}), 0);
    QVERIFY(recordedPid() != stranger.processId());
    QTRY_SHOWS_ONLY(_display, BLUE, PAINT_TIMEOUT_MS);
    QCOMPARE(stranger.state(), QProcess::Running);
    QVERIFY(endProcess(stranger, 0));
}

void TestBrowserControl::stopKillsABrowserThatIgnoresTerm()
{
    const QString stubborn = writeScript("stubborn-browser", "#!/bin/sh\ntrap '' TERM\nexec sleep 300\n");
    writeConfiguration({"url=" + _url, "browser=" + stubborn, "stop_grace_seconds=1"});

    QCOMPARE(control({"start"}), 0);
    const qint64 pid = recordedPid();
    QVERIFY(pid > 1);
    _strays << pid;
    QTRY_COMPARE(processName(pid), QString("sleep"));

    QElapsedTimer clock;
    clock.start();
    QByteArray errors;
    QCOMPARE(control({"stop"}, &errors), 0);
    QVERIFY(!processAlive(pid));
    QVERIFY2(errors.contains("killing it"), errors.constData());
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString("stop took %1 ms").arg(clock.elapsed())));
}

// panel-setup leaving to the settings screen stops the browser that it may
// have started a moment before: the browser must not slip through while it is
// still making itself a session of its own.
void TestBrowserControl::stopRightAfterStartEndsTheBrowser()
{
    QCOMPARE(control({"start"}), 0);
    const qint64 pid = recordedPid();
    QVERIFY(pid > 1);
    QCOMPARE(control({"stop"}), 0);
    QVERIFY(!processAlive(pid));
    QCOMPARE(processesNamed(BROWSER_NAME), QList<qint64>());
    QCOMPARE(processesNamed("QtWebEngineProc"), QList<qint64>());
    QVERIFY(!QFile::exists(_pidFile));
}

void TestBrowserControl::startWithoutARouteStartsTheBrowserAfterTheWait_data()
{
    QTest::addColumn<int>("starts");

    // At boot, and panel-setup's start after the settings screen: each waits.
    QTest::newRow("one start") << 1;
    QTest::newRow("two starts at once") << 2;
}

// A network that never comes up does not keep the page away for good.
void TestBrowserControl::startWithoutARouteStartsTheBrowserAfterTheWait()
{
    QFETCH(int, starts);

    const QString missing = networkWithoutRoutesMissing();
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing));
    writeConfiguration({"browser=" + writeRecordingBrowser(), "network_wait_seconds=2"});

    QElapsedTimer clock;
    clock.start();
    std::vector<std::unique_ptr<QProcess>> running;
    for (int i = 0; i < starts; ++i) {
        running.push_back(std::make_unique<QProcess>());
        startWithoutRoutes(*running.back());
        if (QTest::currentTestFailed())
            return;
    }
    for (const auto &start : running) {
        QVERIFY(start->waitForFinished(30000));
        QCOMPARE(start->exitCode(), 0);
        const QByteArray errors = start->readAllStandardError();
        QVERIFY2(errors.contains("waiting up to 2 s"), errors.constData());
    }
    QVERIFY2(clock.elapsed() >= 1900, qPrintable(QString("start waited only %1 ms").arg(clock.elapsed())));

    // A start ends once its browser has recorded itself: a second browser may
    // still be on its way then.
    QTRY_VERIFY(!browserStarts().isEmpty());
    QTest::qWait(500);
    const qint64 pid = recordedPid();
    QVERIFY(pid > 1);
    _strays << pid;
    QCOMPARE(browserStarts(), QStringList{QString::number(pid)});
    QVERIFY(processAlive(pid));
}

void TestBrowserControl::stopDuringTheNetworkWaitCancelsThatStart_data()
{
    QTest::addColumn<QByteArray>("stopCount");

    // What the count of stops beside the pid file may hold before this stop.
    // clang-format off
    QTest::newRow("no count yet") << QByteArray();
    QTest::newRow("garbled count") << QByteArray("12ab\n");
    QTest::newRow("leading zero") << QByteArray("08\n");
    QTest::newRow("largest count") << QByteArray("999999999\n");
    QTest::newRow("count too long") << QByteArray("99999999999999999999\n");
    // clang-format on
}

// The operator opens the settings screen while the boot's start still waits
// for the network: stop frees the display at once, and that start never shows
// the browser over the settings screen.
void TestBrowserControl::stopDuringTheNetworkWaitCancelsThatStart()
{
    QFETCH(QByteArray, stopCount);

    const QString missing = networkWithoutRoutesMissing();
    if (!missing.isEmpty())
        QSKIP(qPrintable(missing));
    writeConfiguration({"browser=" + writeRecordingBrowser(), "network_wait_seconds=30"});
    QFile::remove(_pidFile + ".stops");
    if (!stopCount.isNull())
        QVERIFY(writeFile(_pidFile + ".stops", stopCount));

    QProcess start;
    startWithoutRoutes(start);
    if (QTest::currentTestFailed())
        return;
    QByteArray errors;
    QTRY_VERIFY2_WITH_TIMEOUT((errors += start.readAllStandardError()).contains("waiting up to 30 s"),
                              errors.constData(), 10000);

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(control({"stop"}), 0);
    QVERIFY2(clock.elapsed() < 10000, qPrintable(QString("stop took %1 ms").arg(clock.elapsed())));

    QVERIFY(start.waitForFinished(40000));
    QCOMPARE(start.exitCode(), 0);
    QTest::qWait(300); // a browser launched at the end would have noted itself by now
    QCOMPARE(browserStarts(), QStringList());
    QVERIFY(!QFile::exists(_pidFile));

    // The stop cancelled that start only: the next one shows the browser.
    writeConfiguration({"browser=" + writeRecordingBrowser(), "network_wait_seconds=1"});
    QCOMPARE(control({"start"}), 0);
    const qint64 pid = recordedPid();
    QVERIFY(pid > 1);
    _strays << pid;
    QTRY_COMPARE(browserStarts(), QStringList{QString::number(pid)});
}

void TestBrowserControl::endsWhatABrowserThatDiedLeft_data()
{
    QTest::addColumn<QString>("command");

    // clang-format off
    QTest::newRow("stop") << "stop";
    QTest::newRow("the next start") << "start";
    // clang-format on
}

// A browser that crashed or was killed for memory may leave helpers behind:
// here a hung render process, which does not notice that its browser is gone.
void TestBrowserControl::endsWhatABrowserThatDiedLeft()
{
    QFETCH(QString, command);

    QCOMPARE(control({"start"}), 0);
    QTRY_SHOWS_ONLY(_display, BLUE, PAINT_TIMEOUT_MS);
    const qint64 browser = recordedPid();
    QVERIFY(browser > 1);
    const QList<qint64> renderers = renderProcessesOf(browser);
    QVERIFY(!renderers.isEmpty());
    _strays << renderers;
    for (qint64 pid : renderers)
        QVERIFY(signalProcess(pid, SIGSTOP));
    QVERIFY(signalProcess(browser, SIGKILL));
    QVERIFY(waitForGone({browser}, 10000));
    QTest::qWait(1000); // the other helpers end by themselves
    for (qint64 pid : renderers)
        QVERIFY2(processAlive(pid), "the hung render process went with its browser");

    QCOMPARE(control({command}), 0);
    for (qint64 pid : renderers)
        QVERIFY2(!processAlive(pid), qPrintable(QString("render process %1 outlived %2").arg(pid).arg(command)));
    if (command == "start") {
        QTRY_SHOWS_ONLY(_display, BLUE, PAINT_TIMEOUT_MS);
        QCOMPARE(processesNamed(BROWSER_NAME), QList<qint64>{recordedPid()});
    } else {
        QCOMPARE(processesNamed("QtWebEngineProc"), QList<qint64>());
        QVERIFY(!QFile::exists(_pidFile));
    }
}

void TestBrowserControl::startKilledMidwayLeavesNoUntrackedBrowser_data()
{
    QTest::addColumn<bool>("beforeTheSession");

    QTest::newRow("before the browser's session is made") << true;
    QTest::newRow("as the browser program starts") << false;
}

// Killed at any moment of a start, the control program must leave either no
// browser or a recorded one, which the next stop ends. A stand-in for setsid,
// or for the browser, kills the control program that ran it.
void TestBrowserControl::startKilledMidwayLeavesNoUntrackedBrowser()
{
    QFETCH(bool, beforeTheSession);

    const QString realSetsid = QStandardPaths::findExecutable("setsid");
    QVERIFY(!realSetsid.isEmpty());
    const QByteArray killer = "#!/bin/sh\n"
                              "grep -q kiosk-browser-control /proc/$PPID/cmdline && [ \"$PPID\" -gt 1 ] &&"
                              " kill -KILL \"$PPID\"\n"
                              "exec '%1' \"$@\"\n";
    QProcessEnvironment environment = controlEnvironment();
    if (beforeTheSession) {
        QVERIFY(QDir().mkpath(_files.filePath("killer")));
        QVERIFY(!writeScript("killer/setsid", QString(killer).arg(realSetsid).toUtf8()).isEmpty());
        environment.insert("PATH", _files.filePath("killer") + ":" + environment.value("PATH"));
    } else {
        // The browser the control program would start: beside it (a cross
        // build puts an emulated one there).
        const QString real = QFileInfo(KIOSK_BROWSER_CONTROL).absolutePath() + "/kiosk-browser";
        const QString browser = writeScript("killing-browser", QString(killer).arg(real).toUtf8());
        writeConfiguration({"url=" + _url, "browser=" + browser});
    }

    QProcess start;
    start.setProcessEnvironment(environment);
    start.start(KIOSK_BROWSER_CONTROL, {"start"});
    QVERIFY(start.waitForFinished(30000));
    QCOMPARE(start.exitStatus(), QProcess::CrashExit);
    QTRY_SHOWS_ONLY(_display, BLUE, PAINT_TIMEOUT_MS);
    const QList<qint64> running = processesNamed(BROWSER_NAME);
    QCOMPARE(running.size(), 1);
    QCOMPARE(recordedPid(), running.first());

    QCOMPARE(control({"stop"}), 0);
    QCOMPARE(processesNamed(BROWSER_NAME), QList<qint64>());
    QCOMPARE(processesNamed("QtWebEngineProc"), QList<qint64>());
}

// The leftovers of a dead browser are found by the session number that the
// pid file names; a stranger's session may hold that number once the browser
// has gone, with its own leader gone too.
void TestBrowserControl::stopLeavesTheOrphansOfAStrangersSessionAlone()
{
    QProcess leader;
    leader.start("setsid", {"sh", "-c", "sleep 300 < /dev/null > /dev/null 2>&1 & echo $$ $!"});
    QVERIFY(leader.waitForFinished(10000));
    const QList<QByteArray> pids = leader.readAllStandardOutput().trimmed().split(' ');
    const qint64 session = pids.value(0).toLongLong();
    const qint64 orphan = pids.value(1).toLongLong();
    QVERIFY(session > 1 && orphan > 1);
    _strays << orphan;
    QVERIFY(processAlive(orphan));
    QVERIFY(writeFile(_pidFile, QByteArray::number(session) + " " + startTimeOf(orphan) + "\n"));

    QCOMPARE(control({"stop"}), 0);
    QTest::qWait(300);
    QVERIFY(processAlive(orphan));
}

void TestBrowserControl::stopNeverSignalsBeyondTheBrowser_data()
{
    QTest::addColumn<QByteArray>("record");

    // Each of these pids, taken as a process group, would reach far more than a
    // browser: every process there is, the caller's own group, this test. The
    // start times are the true ones, so only the pid itself can stop the kill.
    const QByteArray self = QByteArray::number(qint64(::getpid()));
    // clang-format off
    QTest::newRow("process 1") << "1 " + startTimeOf(1) + "\n";
    QTest::newRow("process 1, leading zero") << "01 " + startTimeOf(1) + "\n";
    QTest::newRow("zero") << QByteArray("0 0\n");
    QTest::newRow("minus one") << QByteArray("-1 0\n");
    QTest::newRow("empty file") << QByteArray();
    QTest::newRow("blank line") << QByteArray(" \n");
    QTest::newRow("pid without start time") << self + "\n";
    QTest::newRow("this test, no session leader") << self + " " + startTimeOf(::getpid()) + "\n";
    // clang-format on
}

void TestBrowserControl::stopNeverSignalsBeyondTheBrowser()
{
    QFETCH(QByteArray, record);

    QVERIFY(::getsid(0) != ::getpid()); // or the last row would name a browser-like leader
    // A process in this test's own group, which the control program shares.
    QProcess canary;
    canary.start("sleep", {"300"});
    QVERIFY(canary.waitForStarted());
    _strays << canary.processId();
    QVERIFY(writeFile(_pidFile, record));

    QCOMPARE(control({"stop"}), 0);
    QTest::qWait(200); // a signal sent is delivered by now
    QCOMPARE(canary.state(), QProcess::Running);
    QVERIFY(processAlive(1));
    QVERIFY(!QFile::exists(_pidFile)); // a record that names no browser of ours goes
    QVERIFY(endProcess(canary, 0));
}

// The whole way as on the panel: panel-setup's "-b" and "-s" run the program
// that "browser_start_command" names, detached, and never wait for it.
void TestBrowserControl::panelSetupStartsAndStopsTheBrowser()
{
    // The settings file sits beside the executable: a copy of its own.
    const QString device = _files.filePath("device");
    QVERIFY(QDir().mkpath(device));
    QFile::remove(device + "/panel-setup");
    QVERIFY(QFile::copy(PANEL_SETUP, device + "/panel-setup"));
    const QByteArray settings = "{\n    \"browser_start_command\": \"" KIOSK_BROWSER_CONTROL "\"\n}\n";
    QVERIFY(writeFile(device + "/settings.json", settings));

    auto panelSetup = [this, device](const QString &mode) {
        QProcess process;
        process.setProcessEnvironment(controlEnvironment());
        process.start(device + "/panel-setup", {mode});
        return process.waitForFinished(30000) && process.exitCode() == 0;
    };
    QVERIFY(panelSetup("-b"));
    QTRY_SHOWS_ONLY(_display, BLUE, PAINT_TIMEOUT_MS);
    const qint64 browser = recordedPid();
    QVERIFY(browser > 1);
    QCOMPARE(processName(browser), BROWSER_NAME);

    QVERIFY(panelSetup("-s"));
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(browser), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(processesNamed("QtWebEngineProc"), QList<qint64>(), 10000);
    QVERIFY(waitForEmptyScreen(_display, 10000));
}

void TestBrowserControl::rejectsWrongUsage_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no argument") << QStringList();
    QTest::newRow("unknown command") << QStringList{"restart"};
    QTest::newRow("extra argument") << QStringList{"start", "now"};
    // The start's way into the browser's session, without the program to run.
    QTest::newRow("session entry without a program") << QStringList{"run-in-session", "start"};
}

void TestBrowserControl::rejectsWrongUsage()
{
    QFETCH(QStringList, arguments);

    QByteArray errors;
    QCOMPARE(control(arguments, &errors), 2);
    QVERIFY2(errors.contains("usage"), errors.constData());
    QVERIFY(!QFile::exists(_pidFile));
    QVERIFY(processesNamed(BROWSER_NAME).isEmpty());
}

QTEST_GUILESS_MAIN(TestBrowserControl)
#include "tst_browsercontrol.moc"
