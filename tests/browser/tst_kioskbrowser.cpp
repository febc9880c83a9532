// kiosk-browser as a person sees it: the real binary on the eglfs platform,
// drawn into a virtual X display, judged by the pixels of screenshots.

#include "browserharness.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <memory>

namespace {

// The reload waits 1 s after the first death and 2 s after the second; the rest
// is a new render process loading the page on a busy machine.
const int RECOVERY_TIMEOUT_MS = 15000 * BROWSER_SLOWDOWN;

const QRgb RED = qRgb(0xff, 0x00, 0x00);
const QRgb GREEN = qRgb(0x00, 0xff, 0x00);
const QRgb BLUE = qRgb(0x00, 0x00, 0xff);
const QRgb ORANGE = qRgb(0xff, 0x80, 0x00);
const QRgb WHITE = qRgb(0xff, 0xff, 0xff);

} // namespace

class TestKioskBrowser : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void showsThePageFullScreen_data();
    void showsThePageFullScreen();
    void showsABlankPageWithoutUrl_data();
    void showsABlankPageWithoutUrl();
    void takesTheFirstArgumentLeftByTheToolkit_data();
    void takesTheFirstArgumentLeftByTheToolkit();
    void ignoresTheCallersPlatform_data();
    void ignoresTheCallersPlatform();
    void overwritesTheCallersEnvironment();
    void enablesPlugins();
    void reloadsAfterTheRenderProcessIsKilled();
    void runsOneRenderProcessBesideTheBrowser();
    void keepsTheCallersEngineSwitches();

private:
    QString fileAddress(const QString &name) const;
    QProcessEnvironment environment() const;
    void launch(const QStringList &arguments);
    void launch(const QStringList &arguments, const QProcessEnvironment &environment);

    VirtualDisplay _display;
    PageServer _server;
    QTemporaryDir _files;
    std::unique_ptr<BrowserRun> _browser;
};

void TestKioskBrowser::initTestCase()
{
    // It kills render processes it finds in /proc: only ever those of its own
    // sandbox's namespace.
    requireSandboxPidNamespace();
    QString error;
    QVERIFY2(_display.start(&error), qPrintable(error));
    QVERIFY(_server.listen());
    QVERIFY(_files.isValid());

    const QList<QPair<QString, QRgb>> files{{"green.html", GREEN}, {"страница с пробелами.html", ORANGE}};
    for (const auto &file : files) {
        QFile page(_files.filePath(file.first));
        QVERIFY(page.open(QIODevice::WriteOnly));
        page.write(colourPage(file.second));
    }
}

void TestKioskBrowser::cleanup()
{
    _display.saveLastScreenIfFailed();
    if (_browser) {
        _browser->stop();
        if (QTest::currentTestFailed())
            qWarning("browser output:\n%s", _browser->output().constData());
        _browser.reset();
    }
    QVERIFY2(waitForEmptyScreen(_display, 10000), "the last browser's picture stayed on the screen");
}

QString TestKioskBrowser::fileAddress(const QString &name) const
{
    return "file://" + _files.filePath(name);
}

QProcessEnvironment TestKioskBrowser::environment() const
{
    return browserEnvironment(_display, _files.filePath("home"));
}

void TestKioskBrowser::launch(const QStringList &arguments)
{
    launch(arguments, environment());
}

void TestKioskBrowser::launch(const QStringList &arguments, const QProcessEnvironment &environment)
{
    _browser = std::make_unique<BrowserRun>(KIOSK_BROWSER, arguments, environment);
    QVERIFY2(_browser->running(), "kiosk-browser did not start");
}

void TestKioskBrowser::showsThePageFullScreen_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("overHttp");
    QTest::addColumn<QRgb>("colour");

    // clang-format off
    QTest::newRow("http") << "/red.html" << true << RED;
    QTest::newRow("http, blanks and Cyrillic") << "/папка с пробелами/страница №1.html" << true << BLUE;
    QTest::newRow("file") << "green.html" << false << GREEN;
    QTest::newRow("file, blanks and Cyrillic") << "страница с пробелами.html" << false << ORANGE;
    // clang-format on
}

// The whole screen is the page: no frame, no bar, no controls of the browser's own.
void TestKioskBrowser::showsThePageFullScreen()
{
    QFETCH(QString, path);
    QFETCH(bool, overHttp);
    QFETCH(QRgb, colour);

    QString address;
    if (overHttp) {
        _server.setPage(path, colourPage(colour));
        address = _server.address(path);
    } else {
        address = fileAddress(path);
    }
    launch({address});
    QTRY_SHOWS_ONLY(_display, colour, PAINT_TIMEOUT_MS);
    if (overHttp)
        QCOMPARE(_server.requestCount(path), 1);
}

void TestKioskBrowser::showsABlankPageWithoutUrl_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("no argument") << QStringList();
    QTest::newRow("only toolkit options") << QStringList{"-platform", "eglfs", "-reverse"};
}

void TestKioskBrowser::showsABlankPageWithoutUrl()
{
    QFETCH(QStringList, arguments);

    _server.setPage("/", colourPage(RED));
    launch(arguments);
    QTRY_SHOWS_ONLY(_display, WHITE, PAINT_TIMEOUT_MS);
    // A blank page is no error: the browser stays.
    QTest::qWait(1000);
    QVERIFY(_browser->running());
    QVERIFY(_display.showsOnly(WHITE));
    QCOMPARE(_server.requestCount("/"), 0);
}

void TestKioskBrowser::takesTheFirstArgumentLeftByTheToolkit_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<bool>("secondUrl");

    QTest::newRow("platform option with its value") << QStringList{"-platform", "eglfs"} << false;
    QTest::newRow("option without value") << QStringList{"-reverse"} << true;
    QTest::newRow("window title option") << QStringList{"-qwindowtitle", "Kiosk"} << true;
    QTest::newRow("no options, two URLs") << QStringList() << true;
}

void TestKioskBrowser::takesTheFirstArgumentLeftByTheToolkit()
{
    QFETCH(QStringList, options);
    QFETCH(bool, secondUrl);

    _server.setPage("/first.html", colourPage(GREEN));
    _server.setPage("/second.html", colourPage(BLUE));
    QStringList arguments = options;
    arguments << _server.address("/first.html");
    if (secondUrl)
        arguments << _server.address("/second.html");

    launch(arguments);
    QTRY_SHOWS_ONLY(_display, GREEN, PAINT_TIMEOUT_MS);
    QCOMPARE(_server.requestCount("/first.html"), 1);
    QCOMPARE(_server.requestCount("/second.html"), 0);
}

void TestKioskBrowser::ignoresTheCallersPlatform_data()
{
    QTest::addColumn<QString>("platform");

    // clang-format off
    QTest::newRow("offscreen") << "offscreen";
    QTest::newRow("xcb") << "xcb";
    QTest::newRow("minimal") << "minimal";
    // clang-format on
}

// On offscreen or minimal nothing would reach the display; on xcb a window
// would, but not one that covers the whole screen.
void TestKioskBrowser::ignoresTheCallersPlatform()
{
    QFETCH(QString, platform);

    _server.setPage("/platform.html", colourPage(RED));
    QProcessEnvironment callers = environment();
    callers.insert("QT_QPA_PLATFORM", platform);
    launch({_server.address("/platform.html")}, callers);
    QTRY_SHOWS_ONLY(_display, RED, PAINT_TIMEOUT_MS);
}

// The engine's helper processes inherit the environment that the browser set
// before it created its application object, so they show it from outside.
void TestKioskBrowser::overwritesTheCallersEnvironment()
{
    _server.setPage("/environment.html", colourPage(BLUE));
    QProcessEnvironment callers = environment();
    callers.insert("QT_QPA_PLATFORM", "offscreen");
    callers.insert("QTWEBENGINE_DISABLE_SANDBOX", "0");
    callers.insert("QT_QPA_EGLFS_KMS_CONFIG", "/nonexistent/callers-kms.json");
    launch({_server.address("/environment.html")}, callers);
    QTRY_SHOWS_ONLY(_display, BLUE, PAINT_TIMEOUT_MS);

    const QList<qint64> helpers = descendantsOf(_browser->pid());
    QVERIFY(!helpers.isEmpty());
    const QProcessEnvironment seen = processEnvironment(helpers.first());
    QCOMPARE(seen.value("QT_QPA_PLATFORM"), QString("eglfs"));
    QCOMPARE(seen.value("QTWEBENGINE_DISABLE_SANDBOX"), QString("1"));
    QCOMPARE(seen.value("QT_QPA_EGLFS_KMS_CONFIG"), QString("/etc/eglfs.conf"));
}

void TestKioskBrowser::enablesPlugins()
{
    // The page paints itself green when the engine offers plug-ins (its built-in
    // PDF viewer among them) and red when it offers none.
    _server.setPage("/plugins.html", "<!DOCTYPE html><html><body style=\"margin:0\"><script>"
                                     "document.body.style.background ="
                                     " navigator.plugins.length > 0 ? '#00ff00' : '#ff0000';"
                                     "</script></body></html>");
    launch({_server.address("/plugins.html")});
    QTRY_VERIFY2_WITH_TIMEOUT(_display.showsOnly(GREEN) || _display.showsOnly(RED),
                              qPrintable(_display.describeLastScreen(GREEN)), PAINT_TIMEOUT_MS);
    QVERIFY2(_display.showsOnly(GREEN), "the page finds no plug-ins");
}

// Each load of the page has a new colour, so a page that is back on the screen
// is told apart from the last picture of a dead one.
void TestKioskBrowser::reloadsAfterTheRenderProcessIsKilled()
{
    const QString path = "/recovering.html";
    _server.setPages(path, {colourPage(RED), colourPage(GREEN), colourPage(BLUE)});
    launch({_server.address(path)});
    QTRY_SHOWS_ONLY(_display, RED, PAINT_TIMEOUT_MS);

    const QList<QRgb> nextColours{GREEN, BLUE};
    for (int round = 0; round < nextColours.size(); ++round) {
        const QList<qint64> renderers = renderProcessesOf(_browser->pid());
        QVERIFY2(!renderers.isEmpty(), "no render process found below the browser");
        QElapsedTimer clock;
        clock.start();
        for (qint64 pid : renderers)
            QVERIFY(signalProcess(pid, SIGKILL));
        QVERIFY(waitForGone(renderers, 10000));

        const QRgb colour = nextColours[round];
        QTRY_SHOWS_ONLY(_display, colour, RECOVERY_TIMEOUT_MS);
        qInfo("kill %d: page back after %lld ms", round + 1, clock.elapsed());
        QCOMPARE(_server.requestCount(path), round + 2);
        QVERIFY(_browser->running());
        for (qint64 pid : renderProcessesOf(_browser->pid()))
            QVERIFY(!renderers.contains(pid));
    }
}

// On a small device every process counts: the browser runs its page in one
// render process of its own (a crash there must not take the browser down)
// and starts nothing else, no zygote, no GPU process, no spare render
// process; after a crash it is again the browser and one render process.
void TestKioskBrowser::runsOneRenderProcessBesideTheBrowser()
{
    const QString path = "/processes.html";
    _server.setPages(path, {colourPage(GREEN), colourPage(BLUE)});
    launch({_server.address(path)});
    QTRY_SHOWS_ONLY(_display, GREEN, PAINT_TIMEOUT_MS);
    QTest::qWait(2000); // a helper started late, or a spare one, is there by now

    const QList<qint64> renderers = renderProcessesOf(_browser->pid());
    QCOMPARE(renderers.size(), 1);
    QCOMPARE(descendantsOf(_browser->pid()), renderers);

    QVERIFY(signalProcess(renderers.first(), SIGSEGV));
    QVERIFY(waitForGone(renderers, 10000));
    QTRY_SHOWS_ONLY(_display, BLUE, RECOVERY_TIMEOUT_MS);
    QVERIFY(_browser->running());
    QTest::qWait(2000);
    const QList<qint64> after = renderProcessesOf(_browser->pid());
    QCOMPARE(after.size(), 1);
    QVERIFY(after != renderers);
    QCOMPARE(descendantsOf(_browser->pid()), after);
}

// The browser sets engine switches of its own; a caller's own ones must still
// reach the engine, and the browser's stay too.
void TestKioskBrowser::keepsTheCallersEngineSwitches()
{
    _server.setPage("/switches.html",
                    "<!DOCTYPE html><html><body style=\"margin:0\"><script>"
                    "document.body.style.background = typeof gc === 'function' ? '#00ff00' : '#ff0000';"
                    "</script></body></html>");
    QProcessEnvironment callers = environment();
    callers.insert("QTWEBENGINE_CHROMIUM_FLAGS", "--js-flags=--expose-gc");
    launch({_server.address("/switches.html")}, callers);
    QTRY_VERIFY2_WITH_TIMEOUT(_display.showsOnly(GREEN) || _display.showsOnly(RED),
                              qPrintable(_display.describeLastScreen(GREEN)), PAINT_TIMEOUT_MS);
    QVERIFY2(_display.showsOnly(GREEN), "the caller's switch did not reach the engine");
    QCOMPARE(descendantsOf(_browser->pid()), renderProcessesOf(_browser->pid()));
}

QTEST_GUILESS_MAIN(TestKioskBrowser)
#include "tst_kioskbrowser.moc"
