#include "renderprocessrecovery.h"

#include <QApplication>
#include <QString>
#include <QUrl>
#include <QWebEngineSettings>
#include <QWebEngineView>

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
    RenderProcessRecovery recovery(&view, url);
    view.load(url);
    view.show();

    return application.exec();
}
