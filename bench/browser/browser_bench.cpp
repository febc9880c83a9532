// kiosk-browser against Debian's cog (WPE WebKit, on weston's X11 back end)
// and Chromium in kiosk mode, side by side in one run: the same virtual
// display, the same pages from the same local server.
//
// For each launch: the time from starting the program to the page's first
// pixel on the screen (the page's background colour at the centre of the
// display), and, a few seconds later, the memory of the browser with every
// helper process it has started (all processes that were not there before the
// launch: some of Chromium's helpers leave the tree and are reparented to
// process 1). The sandbox's PID namespace holds nothing else. cog needs a
// Wayland compositor: weston runs for the whole benchmark, started before any
// launch and never counted.
//
// Usage: browser-bench KIOSK_BROWSER CHROMIUM ROUNDS OUTPUT_DIR [COG]
//        browser-bench --soak MINUTES KIOSK_BROWSER OUTPUT_DIR [COG]
// Round 0 warms the disk cache for all and is not counted. The order of the
// browsers rotates from round to round. The soak runs each browser in turn on
// a page that reloads itself every second and on one that allocates and frees
// memory, and prints the summed PSS every minute.

#include "browserharness.h"

#include <QBuffer>
#include <QColor>
#include <QHash>
#include <QImage>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QTextStream>
#include <QThread>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <memory>

namespace {

const QRgb PAGE_COLOUR = qRgb(0x1e, 0x5a, 0xa8);
const int FIRST_PIXEL_TIMEOUT_MS = 60000;
const int SETTLE_MS = 5000;

QTextStream out(stdout);

// The light page: a coloured background with a little text at the top, as a
// panel's page might start; the centre of the screen is background.
QByteArray lightPage()
{
    return QString("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Пульт</title></head>"
                   "<body style=\"margin:0;background:%1;color:#ffffff;font-family:sans-serif\">"
                   "<h1 style=\"margin:16px\">Пульт оператора</h1>"
                   "<p style=\"margin:16px\">Линия 1: работает. Линия 2: остановлена.</p>"
                   "</body></html>")
        .arg(QColor(PAGE_COLOUR).name())
        .toUtf8();
}

// The heavier page: a table of 400 cells (some 850 elements), an image and a
// script that rewrites a clock and a cell ten times a second, all in the upper
// third; the centre stays background.
QByteArray heavyPage()
{
    QString cells;
    for (int row = 0; row < 20; ++row) {
        cells += "<tr>";
        for (int column = 0; column < 20; ++column)
            cells += QString("<td id=\"c%1\">%2</td>").arg(row * 20 + column).arg((row * 37 + column * 11) % 100);
        cells += "</tr>";
    }
    return QString("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Линия</title><style>"
                   "body{margin:0;background:%1;color:#fff;font:11px sans-serif}"
                   "#top{height:250px;overflow:hidden;display:flex}"
                   "td{padding:0 3px;border:1px solid #8ab}</style></head><body><div id=\"top\">"
                   "<table>%2</table><div><h2 id=\"clock\">--:--:--</h2>"
                   "<img src=\"/picture.png\" width=\"200\" height=\"150\" alt=\"\"></div></div>"
                   "<script>var n=0;setInterval(function(){"
                   "document.getElementById('clock').textContent=new Date().toLocaleTimeString();"
                   "document.getElementById('c'+(n++%400)).textContent=n%100;},100);</script>"
                   "</body></html>")
        .arg(QColor(PAGE_COLOUR).name(), cells)
        .toUtf8();
}

QByteArray picture()
{
    QImage image(200, 150, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, qRgb(x, y, (x * y) % 256));
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

// For the soak: a page that loads itself again every second, and one that
// allocates some 20 MiB of arrays and DOM nodes, draws them and lets them go,
// every two seconds.
QByteArray reloadingPage()
{
    return QString("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
                   "<body style=\"margin:0;background:%1;color:#fff\"><h1 id=\"t\"></h1><script>"
                   "document.getElementById('t').textContent=new Date().toISOString();"
                   "setTimeout(function(){location.reload();},1000);</script></body></html>")
        .arg(QColor(PAGE_COLOUR).name())
        .toUtf8();
}

QByteArray allocatingPage()
{
    return QString("<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head>"
                   "<body style=\"margin:0;background:%1;color:#fff\"><div id=\"box\" "
                   "style=\"height:300px;overflow:hidden\"></div><script>"
                   "var round=0;setInterval(function(){var box=document.getElementById('box');"
                   "var keep=[];for(var i=0;i<40;i++){keep.push(new Float64Array(65536).fill(round+i));}"
                   "for(var j=0;j<2000;j++){var d=document.createElement('span');"
                   "d.textContent=j+' ';box.appendChild(d);}"
                   "setTimeout(function(){keep=null;box.textContent='round '+(++round);},1000);},2000);"
                   "</script></body></html>")
        .arg(QColor(PAGE_COLOUR).name())
        .toUtf8();
}

bool nearColour(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 2 && qAbs(qGreen(a) - qGreen(b)) <= 2 && qAbs(qBlue(a) - qBlue(b)) <= 2;
}
class Screen
{
public:
    explicit Screen(const QString &name)
        : _display(XOpenDisplay(name.toLocal8Bit().constData()))
    {
    }
    ~Screen()
    {
        if (_display)
            XCloseDisplay(_display);
    }
    bool isOpen() const { return _display != nullptr; }

    // One pixel straight from the server: cheap enough to poll every few ms.
    QRgb pixel(int x, int y) const
    {
        XImage *image = XGetImage(_display, DefaultRootWindow(_display), x, y, 1, 1, AllPlanes, ZPixmap);
        if (!image)
            return 0;
        const QRgb value = toRgb(image, XGetPixel(image, 0, 0));
        XDestroyImage(image);
        return value;
    }

    QImage grab() const
    {
        const int width = DisplayWidth(_display, DefaultScreen(_display));
        const int height = DisplayHeight(_display, DefaultScreen(_display));
        XImage *image = XGetImage(_display, DefaultRootWindow(_display), 0, 0, unsigned(width), unsigned(height),
                                  AllPlanes, ZPixmap);
        if (!image)
            return {};
        QImage result(width, height, QImage::Format_RGB32);
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                result.setPixel(x, y, toRgb(image, XGetPixel(image, x, y)));
        XDestroyImage(image);
        return result;
    }

private:
    static int shiftOf(unsigned long mask)
    {
        int shift = 0;
        while (mask && !(mask & 1)) {
            mask >>= 1;
            ++shift;
        }
        return shift;
    }
    static QRgb toRgb(const XImage *image, unsigned long value)
    {
        return qRgb(int((value & image->red_mask) >> shiftOf(image->red_mask)),
                    int((value & image->green_mask) >> shiftOf(image->green_mask)),
                    int((value & image->blue_mask) >> shiftOf(image->blue_mask)));
    }

    Display *_display;
};

struct Sample
{
    qint64 firstPixelMs = -1;
    qint64 rssKb = 0;
    qint64 pssKb = 0;
    qint64 dirtyKb = 0; // private dirty: what no other process shares and the kernel cannot drop
    int processes = 0;
    double coverage = 0;
};

qint64 statusKb(const QString &path, const QByteArray &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (line.startsWith(key))
            return line.mid(key.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

QSet<qint64> everyProcess()
{
    const QList<qint64> all = descendantsOf(1);
    return QSet<qint64>(all.begin(), all.end());
}

void serveFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

enum BrowserKind { Kiosk, Cog, Chromium };
const char *const BROWSER_NAMES[] = {"kiosk-browser", "cog", "chromium"};

class Bench
{
public:
    Bench(const QString &kiosk, const QString &chromium, const QString &cog)
        : _programs{kiosk, cog, chromium}
    {
    }
    ~Bench() { endProcess(_weston); }

    bool has(BrowserKind kind) const { return !_programs[kind].isEmpty(); }

    bool start()
    {
        QString error;
        if (!_display.start(&error)) {
            out << "no virtual display: " << error << "\n";
            return false;
        }
        _screen.reset(new Screen(_display.name()));
        if (!_screen->isOpen()) {
            out << "cannot open " << _display.name() << "\n";
            return false;
        }
        if (!_server.listen())
            return false;
        _server.setPage("/light.html", lightPage());
        _server.setPage("/heavy.html", heavyPage());
        _server.setPage("/picture.png", picture());
        _server.setPage("/reloading.html", reloadingPage());
        _server.setPage("/allocating.html", allocatingPage());
        return !has(Cog) || startWeston();
    }

    QString address(const QString &path) const { return _server.address(path); }

    // Starts the browser on the page and waits for its first pixel; the
    // processes that appeared with it are in _started afterwards.
    qint64 launch(QProcess &browser, BrowserKind kind, const QString &url)
    {
        const QProcessEnvironment environment = browserEnvironment(_display, _home->path());
        QStringList arguments;
        if (kind == Chromium)
            arguments = QStringList{"--kiosk",
                                    "--no-sandbox",
                                    "--no-first-run",
                                    "--disable-background-networking",
                                    "--disable-component-update",
                                    "--disable-sync",
                                    "--user-data-dir=" + _home->filePath("profile")};
        if (kind == Cog)
            arguments = QStringList{"--platform=wl"};
        arguments << url;
        QProcessEnvironment browserEnvironment = environment;
        if (kind == Cog)
            browserEnvironment.insert("WAYLAND_DISPLAY", _westonRuntime + "/" + WAYLAND_SOCKET);

        _before = everyProcess();
        const int cx = VirtualDisplay::WIDTH / 2, cy = VirtualDisplay::HEIGHT / 2;
        browser.setProcessChannelMode(QProcess::MergedChannels);
        browser.setProcessEnvironment(browserEnvironment);
        QElapsedTimer clock;
        clock.start();
        browser.start(_programs[kind], arguments);
        while (clock.elapsed() < FIRST_PIXEL_TIMEOUT_MS) {
            if (nearColour(_screen->pixel(cx, cy), PAGE_COLOUR))
                return clock.elapsed();
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::usleep(1500);
        }
        out << "  " << BROWSER_NAMES[kind] << ": no page within 60 s; output:\n" << browser.readAll() << "\n";
        return -1;
    }

    // Memory of everything that appeared with the browser.
    void sampleMemory(Sample *sample)
    {
        sample->rssKb = sample->pssKb = sample->dirtyKb = sample->processes = 0;
        for (qint64 pid : everyProcess() - _before) {
            sample->rssKb += statusKb(QString("/proc/%1/status").arg(pid), "VmRSS:");
            const QString rollup = QString("/proc/%1/smaps_rollup").arg(pid);
            sample->pssKb += statusKb(rollup, "Pss:");
            sample->dirtyKb += statusKb(rollup, "Private_Dirty:");
            ++sample->processes;
        }
    }

    Sample measure(BrowserKind kind, const QString &path, const QString &screenshot)
    {
        Sample sample;
        _home.reset(new QTemporaryDir(QDir::tempPath() + "/browser-bench-XXXXXX"));
        QProcess browser;
        sample.firstPixelMs = launch(browser, kind, _server.address(path));
        if (sample.firstPixelMs >= 0) {
            serveFor(SETTLE_MS);
            sampleMemory(&sample);
            const QImage image = _screen->grab();
            qint64 matching = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    matching += nearColour(image.pixel(x, y), PAGE_COLOUR);
            sample.coverage = double(matching) / (qint64(image.width()) * image.height());
            if (!screenshot.isEmpty())
                image.save(screenshot);
        }
        stop(browser);
        return sample;
    }

    // The browser on one page for a while: the summed PSS at the start and
    // after each minute.
    QList<qint64> soak(BrowserKind kind, const QString &path, int minutes)
    {
        QList<qint64> pss;
        _home.reset(new QTemporaryDir(QDir::tempPath() + "/browser-bench-XXXXXX"));
        QProcess browser;
        const int requestsBefore = _server.requestCount(path);
        if (launch(browser, kind, _server.address(path)) >= 0) {
            serveFor(SETTLE_MS);
            for (int minute = 0; minute <= minutes; ++minute) {
                if (minute > 0)
                    serveFor(60000);
                Sample sample;
                sampleMemory(&sample);
                pss << sample.pssKb;
                out << QString("  %1 %2 minute %3: %4 MiB PSS, %5 processes, %6 requests\n")
                           .arg(BROWSER_NAMES[kind], path)
                           .arg(minute)
                           .arg(sample.pssKb / 1024.0, 0, 'f', 1)
                           .arg(sample.processes)
                           .arg(_server.requestCount(path) - requestsBefore);
                out.flush();
            }
        }
        stop(browser);
        return pss;
    }

private:
    static constexpr const char *WAYLAND_SOCKET = "browser-bench-wayland";

    // weston on the X display, the size of the screen, the software renderer;
    // the kiosk shell makes cog's window fill it.
    bool startWeston()
    {
        _westonHome.reset(new QTemporaryDir(QDir::tempPath() + "/browser-bench-weston-XXXXXX"));
        const QProcessEnvironment environment = browserEnvironment(_display, _westonHome->path());
        _weston.setProcessEnvironment(environment);
        _weston.setProcessChannelMode(QProcess::MergedChannels);
        _weston.setStandardOutputFile(_westonHome->filePath("weston.log"));
        _weston.start("weston", {"--backend=x11-backend.so", "--shell=kiosk-shell.so", "--use-pixman",
                                 QString("--width=%1").arg(VirtualDisplay::WIDTH),
                                 QString("--height=%1").arg(VirtualDisplay::HEIGHT),
                                 QString("--socket=%1").arg(WAYLAND_SOCKET), "--idle-time=0"});
        _weston.waitForStarted(10000);
        const QString socket = environment.value("XDG_RUNTIME_DIR") + "/" + WAYLAND_SOCKET;
        QElapsedTimer clock;
        clock.start();
        while (!QFile::exists(socket) && clock.elapsed() < 30000 && _weston.state() == QProcess::Running)
            serveFor(100);
        if (!QFile::exists(socket)) {
            QFile log(_westonHome->filePath("weston.log"));
            log.open(QIODevice::ReadOnly);
            out << "weston did not start (" << _weston.errorString() << "):\n" << log.readAll() << "\n";
            return false;
        }
        // Each browser has a home of its own: cog finds the compositor by the
        // socket's full path.
        _westonRuntime = environment.value("XDG_RUNTIME_DIR");
        return true;
    }

    // Ends the browser and everything that appeared with it, then waits for
    // the screen to leave the page, so that the next launch starts from nothing.
    void stop(QProcess &browser)
    {
        const QList<qint64> started = (everyProcess() - _before).values();
        for (qint64 pid : started)
            signalProcess(pid, SIGTERM);
        if (!waitForGone(started, 10000)) {
            for (qint64 pid : started)
                signalProcess(pid, SIGKILL);
            waitForGone(started, 5000);
        }
        endProcess(browser);
        QElapsedTimer clock;
        clock.start();
        while (nearColour(_screen->pixel(VirtualDisplay::WIDTH / 2, VirtualDisplay::HEIGHT / 2), PAGE_COLOUR)
               && clock.elapsed() < 10000)
            serveFor(20);
        serveFor(500); // let the X server and the disk calm down
    }

    QString _programs[3];
    VirtualDisplay _display;
    std::unique_ptr<Screen> _screen;
    PageServer _server;
    QProcess _weston;
    std::unique_ptr<QTemporaryDir> _westonHome;
    QString _westonRuntime;
    std::unique_ptr<QTemporaryDir> _home;
    QSet<qint64> _before;
};

template <typename T>
T median(QList<T> values)
{
    std::sort(values.begin(), values.end());
    const int n = values.size();
    if (n == 0)
        return T();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

QString ratio(qint64 a, qint64 b)
{
    return a > 0 && b > 0 ? QString::number(double(a) / b, 'f', 2) : QString("-");
}

QString mib(qint64 kb)
{
    return QString::number(kb / 1024.0, 'f', 1);
}

int runComparison(Bench &bench, int rounds, const QString &outputDir)
{
    struct Figures
    {
        QList<qint64> ms, rss, pss, dirty;
        QList<int> processes;
    };
    const QStringList pages{"/light.html", "/heavy.html"};
    QList<BrowserKind> kinds;
    for (BrowserKind kind : {Kiosk, Cog, Chromium})
        if (bench.has(kind))
            kinds << kind;
    QHash<QString, Figures> figures; // by "page browser"

    out << "round  page         browser        first pixel ms  RSS kB   PSS kB   dirty kB  processes  page share\n";
    for (int round = 0; round <= rounds; ++round) {
        for (const QString &page : pages) {
            for (int turn = 0; turn < kinds.size(); ++turn) {
                const BrowserKind kind = kinds[(round + turn) % kinds.size()];
                const QString name = BROWSER_NAMES[kind];
                const QString screenshot
                    = round == 1 ? outputDir + "/" + name + "-" + QString(page).remove('/').remove(".html") + ".png"
                                 : QString();
                const Sample sample = bench.measure(kind, page, screenshot);
                out << QString("%1  %2 %3  %4  %5  %6  %7  %8  %9\n")
                           .arg(round == 0 ? QString("warm") : QString::number(round), 5)
                           .arg(page, -12)
                           .arg(name, -13)
                           .arg(sample.firstPixelMs, 14)
                           .arg(sample.rssKb, 7)
                           .arg(sample.pssKb, 7)
                           .arg(sample.dirtyKb, 8)
                           .arg(sample.processes, 9)
                           .arg(QString::number(sample.coverage * 100, 'f', 1) + "%", 10);
                out.flush();
                if (round == 0 || sample.firstPixelMs < 0)
                    continue;
                Figures &f = figures[page + " " + name];
                f.ms << sample.firstPixelMs;
                f.rss << sample.rssKb;
                f.pss << sample.pssKb;
                f.dirty << sample.dirtyKb;
                f.processes << sample.processes;
            }
        }
    }

    const BrowserKind base = bench.has(Cog) ? Cog : Chromium;
    out << "\nmedians; ratios against " << BROWSER_NAMES[base] << "\n";
    for (const QString &page : pages) {
        const Figures reference = figures.value(page + " " + BROWSER_NAMES[base]);
        out << page << "\n";
        out << "  browser        launches  first pixel ms (ratio)  PSS MiB (ratio)  RSS MiB  private dirty MiB (ratio) "
               " processes\n";
        for (BrowserKind kind : kinds) {
            const Figures f = figures.value(page + " " + BROWSER_NAMES[kind]);
            if (f.ms.isEmpty()) {
                out << QString("  %1  no launch showed the page\n").arg(BROWSER_NAMES[kind], -13);
                continue;
            }
            out << QString("  %1  %2  %3 (%4)  %5 (%6)  %7  %8 (%9)  %10\n")
                       .arg(BROWSER_NAMES[kind], -13)
                       .arg(f.ms.size(), 8)
                       .arg(median(f.ms), 14)
                       .arg(ratio(median(f.ms), median(reference.ms)))
                       .arg(mib(median(f.pss)), 7)
                       .arg(ratio(median(f.pss), median(reference.pss)))
                       .arg(mib(median(f.rss)), 7)
                       .arg(mib(median(f.dirty)), 17)
                       .arg(ratio(median(f.dirty), median(reference.dirty)))
                       .arg(median(f.processes), 9);
        }
    }
    out << "screenshots of round 1: " << outputDir << "\n";
    return figures.value("/light.html kiosk-browser").ms.isEmpty() ? 1 : 0;
}

int runSoak(Bench &bench, int minutes)
{
    out << "summed PSS of all the browser's processes, each minute\n";
    for (const QString &page : {QString("/reloading.html"), QString("/allocating.html")}) {
        for (BrowserKind kind : {Kiosk, Cog}) {
            if (!bench.has(kind))
                continue;
            const QList<qint64> pss = bench.soak(kind, page, minutes);
            if (pss.size() < 2) {
                out << "  " << BROWSER_NAMES[kind] << " " << page << ": no page\n";
                continue;
            }
            // Minute 0 is a few seconds after the first picture, before caches
            // and the script's own rounds have settled: the growth that counts
            // is the one after the first minute.
            out << QString("%1 %2: minute 0 %3 MiB, minute 1 %4 MiB, last %5 MiB, peak %6 MiB;"
                           " growth after minute 1: %7 MiB\n")
                       .arg(BROWSER_NAMES[kind], page)
                       .arg(mib(pss.first()), mib(pss.value(1)), mib(pss.last()))
                       .arg(mib(*std::max_element(pss.begin(), pss.end())))
                       .arg(mib(pss.last() - pss.value(1)));
            out.flush();
        }
    }
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments();
    const bool soak = arguments.value(1) == "--soak";
    if (argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: browser-bench KIOSK_BROWSER CHROMIUM ROUNDS OUTPUT_DIR [COG]\n"
                             "       browser-bench --soak MINUTES KIOSK_BROWSER OUTPUT_DIR [COG]\n");
        return 2;
    }
    // It ends every process that appears during a launch: only ever inside
    // the sandbox's own PID namespace.
    requireSandboxPidNamespace();
    const QString cog = arguments.value(5);
    const QString outputDir = arguments.value(4);
    QDir().mkpath(outputDir);
    Bench bench(soak ? arguments.value(3) : arguments.value(1), soak ? QString() : arguments.value(2), cog);
    if (!bench.start())
        return 1;
    return soak ? runSoak(bench, arguments.value(2).toInt())
                : runComparison(bench, arguments.value(3).toInt(), outputDir);
}
