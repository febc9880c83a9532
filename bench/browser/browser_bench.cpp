// kiosk-browser against Debian's Chromium in kiosk mode, side by side in one
// run: the same virtual display, the same page from the same local server.
//
// For each launch: the time from starting the program to the page's first
// pixel on the screen (the page's background colour at the centre of the
// display), and, three seconds later, the resident memory of the browser with
// every helper process it has started (all processes that were not there
// before the launch: some of Chromium's helpers leave the tree and are
// reparented to process 1). The sandbox's PID namespace holds nothing else.
//
// Usage: browser-bench KIOSK_BROWSER CHROMIUM ROUNDS OUTPUT_DIR
// Round 0 warms the disk cache for both and is not counted. The order of the
// two browsers alternates from round to round.

#include "browserharness.h"

#include <QColor>
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
const int SETTLE_MS = 3000;

QTextStream out(stdout);

// The test page: a coloured background with a little text at the top, as a
// panel's page might start; the centre of the screen is background.
QByteArray benchPage()
{
    return QString("<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Пульт</title></head>"
                   "<body style=\"margin:0;background:%1;color:#ffffff;font-family:sans-serif\">"
                   "<h1 style=\"margin:16px\">Пульт оператора</h1>"
                   "<p style=\"margin:16px\">Линия 1: работает. Линия 2: остановлена.</p>"
                   "</body></html>")
        .arg(QColor(PAGE_COLOUR).name())
        .toUtf8();
}

bool nearColour(QRgb a, QRgb b)
{
    return qAbs(qRed(a) - qRed(b)) <= 2 && qAbs(qGreen(a) - qGreen(b)) <= 2
        && qAbs(qBlue(a) - qBlue(b)) <= 2;
}

class Screen
{
public:
    explicit Screen(const QString &name) : _display(XOpenDisplay(name.toLocal8Bit().constData()))
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
        XImage *image = XGetImage(_display, DefaultRootWindow(_display), 0, 0, unsigned(width),
                                  unsigned(height), AllPlanes, ZPixmap);
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

class Bench
{
public:
    Bench(const QString &kiosk, const QString &chromium, const QString &outputDir)
        : _kiosk(kiosk), _chromium(chromium), _outputDir(outputDir)
    {
    }

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
        _server.setPage("/panel.html", benchPage());
        return true;
    }

    Sample measure(bool chromium, const QString &screenshot)
    {
        Sample sample;
        QTemporaryDir home(QDir::tempPath() + "/browser-bench-XXXXXX");
        const QProcessEnvironment environment = browserEnvironment(_display, home.path());
        const QString url = _server.address("/panel.html");
        QStringList arguments;
        QString program = _kiosk;
        if (chromium) {
            program = _chromium;
            arguments = QStringList{"--kiosk", "--no-sandbox", "--no-first-run",
                                    "--disable-background-networking", "--disable-component-update",
                                    "--disable-sync", "--user-data-dir=" + home.filePath("profile")};
        }
        arguments << url;

        const QSet<qint64> before = everyProcess();
        const int cx = VirtualDisplay::WIDTH / 2, cy = VirtualDisplay::HEIGHT / 2;
        QProcess browser;
        browser.setProcessChannelMode(QProcess::MergedChannels);
        browser.setProcessEnvironment(environment);
        QElapsedTimer clock;
        clock.start();
        browser.start(program, arguments);
        while (clock.elapsed() < FIRST_PIXEL_TIMEOUT_MS) {
            if (nearColour(_screen->pixel(cx, cy), PAGE_COLOUR)) {
                sample.firstPixelMs = clock.elapsed();
                break;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
            QThread::usleep(1500);
        }
        if (sample.firstPixelMs >= 0) {
            serveFor(SETTLE_MS);
            for (qint64 pid : everyProcess() - before) {
                sample.rssKb += statusKb(QString("/proc/%1/status").arg(pid), "VmRSS:");
                sample.pssKb += statusKb(QString("/proc/%1/smaps_rollup").arg(pid), "Pss:");
                ++sample.processes;
            }
            const QImage image = _screen->grab();
            qint64 matching = 0;
            for (int y = 0; y < image.height(); ++y)
                for (int x = 0; x < image.width(); ++x)
                    matching += nearColour(image.pixel(x, y), PAGE_COLOUR);
            sample.coverage = double(matching) / (qint64(image.width()) * image.height());
            if (!screenshot.isEmpty())
                image.save(screenshot);
        } else {
            out << "  " << (chromium ? "chromium" : "kiosk-browser")
                << ": no page within 60 s; output:\n" << browser.readAll() << "\n";
        }
        stop(browser, before);
        return sample;
    }

private:
    // Ends the browser and everything that appeared with it, then waits for
    // the screen to go black, so that the next launch starts from nothing.
    void stop(QProcess &browser, const QSet<qint64> &before)
    {
        const QList<qint64> started = (everyProcess() - before).values();
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
        while (_screen->pixel(VirtualDisplay::WIDTH / 2, VirtualDisplay::HEIGHT / 2) != qRgb(0, 0, 0)
               && clock.elapsed() < 10000)
            serveFor(20);
        serveFor(500); // let the X server and the disk calm down
    }

    QString _kiosk;
    QString _chromium;
    QString _outputDir;
    VirtualDisplay _display;
    std::unique_ptr<Screen> _screen;
    PageServer _server;
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    if (argc != 5) {
        std::fprintf(stderr, "usage: browser-bench KIOSK_BROWSER CHROMIUM ROUNDS OUTPUT_DIR\n");
        return 2;
    }
    // It ends every process that appears during a launch: only ever inside
    // the sandbox's own PID namespace.
    requireSandboxPidNamespace();
    const int rounds = QString(argv[3]).toInt();
    const QString outputDir = QString::fromLocal8Bit(argv[4]);
    QDir().mkpath(outputDir);

    Bench bench(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), outputDir);
    if (!bench.start())
        return 1;

    QList<qint64> kioskMs, chromiumMs, kioskRss, chromiumRss, kioskPss, chromiumPss;
    out << "round  browser        first pixel ms  RSS kB   PSS kB   processes  page share\n";
    for (int round = 0; round <= rounds; ++round) {
        for (int turn = 0; turn < 2; ++turn) {
            const bool chromium = (round + turn) % 2 == 1;
            const QString name = chromium ? "chromium" : "kiosk-browser";
            const QString screenshot = round == 1 ? outputDir + "/" + name + ".png" : QString();
            const Sample sample = bench.measure(chromium, screenshot);
            out << QString("%1  %2  %3  %4  %5  %6  %7\n")
                       .arg(round == 0 ? QString("warm") : QString::number(round), 5)
                       .arg(name, -13)
                       .arg(sample.firstPixelMs, 14)
                       .arg(sample.rssKb, 7)
                       .arg(sample.pssKb, 7)
                       .arg(sample.processes, 9)
                       .arg(QString::number(sample.coverage * 100, 'f', 1) + "%", 10);
            out.flush();
            if (round == 0 || sample.firstPixelMs < 0)
                continue;
            (chromium ? chromiumMs : kioskMs) << sample.firstPixelMs;
            (chromium ? chromiumRss : kioskRss) << sample.rssKb;
            (chromium ? chromiumPss : kioskPss) << sample.pssKb;
        }
    }
    if (kioskMs.isEmpty() || chromiumMs.isEmpty()) {
        out << "not enough launches showed the page for a comparison\n";
        return 1;
    }
    const auto ratio = [](qint64 a, qint64 b) { return b ? QString::number(double(a) / b, 'f', 2) : QString("-"); };
    out << "\nmedians over " << kioskMs.size() << " and " << chromiumMs.size() << " launches\n";
    out << QString("  launch to first page pixel: kiosk-browser %1 ms, chromium %2 ms\n")
               .arg(median(kioskMs)).arg(median(chromiumMs));
    out << QString("  resident memory, all processes: kiosk-browser %1 MiB, chromium %2 MiB (PSS %3 and %4 MiB)\n")
               .arg(median(kioskRss) / 1024.0, 0, 'f', 1).arg(median(chromiumRss) / 1024.0, 0, 'f', 1)
               .arg(median(kioskPss) / 1024.0, 0, 'f', 1).arg(median(chromiumPss) / 1024.0, 0, 'f', 1);
    out << "ratio first pixel (kiosk-browser / chromium): " << ratio(median(kioskMs), median(chromiumMs)) << "\n";
    out << "ratio resident memory (kiosk-browser / chromium): " << ratio(median(kioskRss), median(chromiumRss)) << "\n";
    out << "ratio proportional memory (kiosk-browser / chromium): " << ratio(median(kioskPss), median(chromiumPss)) << "\n";
    out << "screenshots of round 1: " << outputDir << "\n";
    return 0;
}
