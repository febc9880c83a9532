#include "configuration.h"
#include "kbdcursor.h"
#include "mainwindow.h"
#include "screenfit.h"

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

    // The screens are laid out for 1024 x 600 and up at 140 dpi; on a smaller
    // display they shrink their fonts to fit, each screen as far as it must.
    // Not through a lower QT_FONT_DPI or another QT_SCALE_FACTOR: the browser
    // started from here inherits this environment and must render its page as
    // on every other panel, and the display's size is known only once the
    // application is up, after Qt has read those variables. Scaling would also
    // shrink the frames, the check box and the pointer's arrow, not only texts.
    ScreenFit *screenFit = new ScreenFit(&application);
    screenFit->install();

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
