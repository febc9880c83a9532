#include "renderprocessrecovery.h"

#include <QApplication>
#include <QByteArray>
#include <QQuickWindow>
#include <QSGRendererInterface>
#include <QString>
#include <QUrl>
#include <QWebEngineSettings>
#include <QWebEngineView>

namespace {

// Web engine switches for a small device: each one trims what the engine
// holds without taking anything from the page. Figures: summed PSS of all
// the browser's processes on a 1024x768 display, measured with
// bench/browser.sh.
const char *const ENGINE_SWITCHES[] = {
    // The zygote exists to start sandboxed render processes quickly; with the
    // sandbox off it only adds two processes that keep their own copy of the
    // engine library's relocated data and of the pages they touched: 2
    // processes and 9 to 21 MiB. A render process after a crash now starts
    // from its program instead of a fork.
    "--no-zygote",
};

// The caller's own switches come after ours: where both name one, the engine
// takes the last, so the caller's choice stands.
void setEngineSwitches()
{
    QByteArrayList switches;
    for (const char *engineSwitch : ENGINE_SWITCHES)
        switches << engineSwitch;
    const QByteArray callers = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS").trimmed();
    if (!callers.isEmpty())
        switches << callers;
    qputenv("QTWEBENGINE_CHROMIUM_FLAGS", switches.join(' '));
}

} // namespace

int main(int argc, char *argv[])
{
    // The panel has no window system: draw straight on the display. The caller's
    // environment is overwritten on purpose, a stray QT_QPA_PLATFORM from a login
    // shell must not put the kiosk somewhere nobody sees it.
    qputenv("QT_QPA_PLATFORM", "eglfs");
    // The panel runs everything as root, and Chromium refuses to start its
    // sandboxed render processes as root.
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    qputenv("QT_QPA_EGLFS_KMS_CONFIG", "/etc/eglfs.conf");
    setEngineSwitches();
    // The view's picture is put together by Qt Quick. Drawn in software, the
    // web engine composites in software too: no GL compositor in the browser
    // process, with its textures, command buffers and shader programs: 22 to
    // 28 MiB with Mesa's software GL. The page draws as before; only WebGL is
    // not offered. A device image whose GPU should composite sets
    // QT_QUICK_BACKEND itself: a name other than "software" that no Qt Quick
    // plug-in has (for example "opengl") leaves Qt's default, OpenGL.
    if (!qEnvironmentVariableIsSet("QT_QUICK_BACKEND"))
        QQuickWindow::setSceneGraphBackend(QSGRendererInterface::Software);

    // argc by reference: the toolkit takes out its own options (-platform eglfs,
    // -reverse, ...) so that what remains after the program name is the URL.
    QApplication application(argc, argv);

    QWebEngineSettings::defaultSettings()->setAttribute(QWebEngineSettings::PluginsEnabled, true);

    QString urlText;
    if (argc > 1)
        urlText = QString::fromUtf8(argv[1]);
    // Tolerant: an address typed with blanks or Cyrillic letters, without
    // percent-encoding, still names the page that was meant.
    const QUrl url(urlText, QUrl::TolerantMode);

    // Under eglfs the one top-level window covers the whole screen by itself.
    QWebEngineView view;
    // The engine's own context menu (Back, Forward, Reload, Save page, View
    // page source) would be navigation the kiosk does not offer; the Menu key
    // or a right click goes to the page alone, which may show a menu of its own.
    view.setContextMenuPolicy(Qt::NoContextMenu);
    RenderProcessRecovery recovery(&view, url);
    view.load(url);
    view.show();

    return application.exec();
}
