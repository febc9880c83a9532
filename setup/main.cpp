#include "configuration.h"
#include "kbdcursor.h"
#include "mainwindow.h"

#include <QApplication>
#include <QCoreApplication>
#include <QThread>

#include <cstring>

namespace {

// The headless switches: each runs one action without a display and ends with
// status 0 whatever the action achieved; the boot scripts do not look at it.
int runHeadless(int argc, char *argv[], void (*action)())
{
    QCoreApplication application(argc, argv);
    action();
    return 0;
}

int runSettingsScreen(int argc, char *argv[])
{
    // The browser owns the display while it runs: stop it first, and give it a
    // second to let go of the framebuffer.
    qputenv("QT_QPA_PLATFORM", "nodisplay");
    {
        QCoreApplication headless(argc, argv);
        Configuration::instation()->stopBrowser();
    }
    QThread::sleep(1);

    qputenv("QT_FONT_DPI", "140");
    qputenv("QT_SCALE_FACTOR", "1");
    qputenv("QT_QPA_PLATFORM", "eglfs");
    QApplication application(argc, argv);
    Configuration::instation()->initNetwork();

    // Declared after the application, so it is destroyed before it, once the
    // console is back in text mode.
    MainWindow window;
    window.show();

    // The panel has no mouse: the keyboard pointer drives every screen. The
    // application owns it.
    KbdCursor *cursor = new KbdCursor(&application);
    cursor->install();

    const int result = application.exec();
    Configuration::clearLinuxFb();
    return result;
}

} // namespace

int main(int argc, char *argv[])
{
    const char *mode = argc > 1 ? argv[1] : "";
    if (std::strcmp(mode, "-q") == 0) {
        qputenv("QT_QPA_PLATFORM", "nodisplay");
        return runHeadless(argc, argv, [] {
            Configuration::instation()->initNetwork();
            Configuration::clearLinuxFb();
        });
    }
    if (std::strcmp(mode, "-b") == 0)
        return runHeadless(argc, argv, [] { Configuration::instation()->startBrowser(); });
    if (std::strcmp(mode, "-s") == 0)
        return runHeadless(argc, argv, [] { Configuration::instation()->stopBrowser(); });
    return runSettingsScreen(argc, argv);
}
