// Runs panel-setup's interactive mode and the minimal QMainWindow program in
// turn, ROUNDS times each, with the first-paint probe preloaded, and prints the
// median time from process start to the main window's first paint (panel-setup
// less its one-second pause for the browser) and the peak resident memory,
// with their ratios.
//
//   startup-driver PANEL_SETUP MINIMAL PROBE ROUNDS
//
// panel-setup stops the browser and brings eth0 up on its way, so this runs
// inside the panel sandbox only.

#include "sandboxguard.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

// The browser stop in panel-setup is followed by this pause; it is the
// browser's time, not the program's.
constexpr double BROWSER_PAUSE_S = 1.0;

struct Run
{
    double seconds = -1;
    long peakKb = 0;
};

qint64 monotonicNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// With a probe: seconds from start to the first paint. Without one (an empty
// probe): seconds from start to the program's end.
Run runOnce(const QByteArray &program, const QByteArray &probe, const QByteArray &probeFile,
            QByteArray mode = QByteArray())
{
    QFile::remove(QString::fromLocal8Bit(probeFile));
    QVector<QByteArray> env;
    for (char **e = environ; *e; ++e) {
        const QByteArray entry(*e);
        if (!entry.startsWith("LD_PRELOAD=") && !entry.startsWith("PANEL_STARTUP_PROBE_FILE="))
            env << entry;
    }
    // Both programs see what panel-setup sets for itself on the panel.
    if (!probe.isEmpty())
        env << "LD_PRELOAD=" + probe << "PANEL_STARTUP_PROBE_FILE=" + probeFile;
    env << "QT_FONT_DPI=140"
        << "QT_SCALE_FACTOR=1";
    QVector<char *> envp;
    for (QByteArray &entry : env)
        envp << entry.data();
    envp << nullptr;
    // eglfs needs the panel's display; the platform argument overrides the
    // variable that panel-setup sets.
    QByteArray arg0 = program, arg1 = "-platform", arg2 = "offscreen";
    char *argv[] = {arg0.data(), arg1.data(), arg2.data(), nullptr};
    if (!mode.isEmpty())
        argv[1] = mode.data(), argv[2] = nullptr;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);

    Run run;
    pid_t pid = 0;
    const qint64 start = monotonicNs();
    if (posix_spawn(&pid, program.constData(), &actions, nullptr, argv, envp.data()) != 0) {
        posix_spawn_file_actions_destroy(&actions);
        return run;
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const qint64 ended = monotonicNs();
    run.peakKb = usage.ru_maxrss;
    if (probe.isEmpty()) {
        if (WIFEXITED(status) && WEXITSTATUS(status) == 0)
            run.seconds = double(ended - start) / 1e9;
        return run;
    }

    QFile stamp(QString::fromLocal8Bit(probeFile));
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && stamp.open(QIODevice::ReadOnly)) {
        bool ok = false;
        const qint64 painted = stamp.readAll().trimmed().toLongLong(&ok);
        if (ok)
            run.seconds = double(painted - start) / 1e9;
    }
    return run;
}

template <class T>
T median(QVector<T> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? T() : values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    requireSandbox();
    if (argc < 5) {
        std::fprintf(stderr, "usage: startup-driver PANEL_SETUP MINIMAL PROBE ROUNDS\n");
        return 2;
    }
    const int rounds = std::max(1, atoi(argv[4]));

    // panel-setup reads its settings beside itself: a copy in a folder of its
    // own, with static settings for the sandbox's eth0 and the sandbox's
    // recording browser control.
    QTemporaryDir device(QStringLiteral("/tmp/panel-startup-XXXXXX"));
    const QString panelCopy = device.filePath(QStringLiteral("panel-setup"));
    if (!device.isValid() || !QFile::copy(QString::fromLocal8Bit(argv[1]), panelCopy)) {
        std::fprintf(stderr, "cannot copy %s\n", argv[1]);
        return 2;
    }
    const QJsonObject settings{
        {"browser_start_command", QString::fromLocal8Bit(qgetenv("PANEL_SANDBOX_BROWSER"))},
        {"ip_address", "192.168.1.10"},
        {"ip_mask", "255.255.255.0"},
        {"ip_gateway", "192.168.1.1"},
        {"dhcp_enable", false},
    };
    QFile file(device.filePath(QStringLiteral("settings.json")));
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(settings).toJson()) <= 0)
        return 2;
    file.close();

    const QByteArray panel = QFile::encodeName(panelCopy);
    const QByteArray minimal = argv[2];
    const QByteArray probe = QFile::encodeName(QFileInfo(QString::fromLocal8Bit(argv[3])).absoluteFilePath());
    const QByteArray probeFile = QFile::encodeName(device.filePath(QStringLiteral("first-paint")));

    QVector<double> panelSeconds, minimalSeconds, headlessSeconds;
    QVector<long> panelKb, minimalKb;
    // Alternating, after one unmeasured warm-up of each, so that caches and
    // the other core's load weigh on both alike.
    runOnce(panel, probe, probeFile);
    runOnce(minimal, probe, probeFile);
    for (int i = 0; i < rounds; ++i) {
        const Run p = runOnce(panel, probe, probeFile);
        const Run m = runOnce(minimal, probe, probeFile);
        // For the breakdown: the settings load and network bring-up alone,
        // which the interactive mode also runs before its window.
        const Run q = runOnce(panel, QByteArray(), probeFile, "-q");
        if (p.seconds < 0 || m.seconds < 0 || q.seconds < 0) {
            std::fprintf(stderr, "round %d: a program did not reach its first paint\n", i + 1);
            return 1;
        }
        panelSeconds << p.seconds - BROWSER_PAUSE_S;
        minimalSeconds << m.seconds;
        headlessSeconds << q.seconds;
        panelKb << p.peakKb;
        minimalKb << m.peakKb;
        std::printf("round %2d: panel-setup %7.1f ms (+%.0f s pause) %6ld KiB | minimal %7.1f ms %6ld KiB"
                    " | panel-setup -q %7.1f ms\n",
                    i + 1, 1000 * (p.seconds - BROWSER_PAUSE_S), BROWSER_PAUSE_S, p.peakKb, 1000 * m.seconds, m.peakKb,
                    1000 * q.seconds);
    }
    const double panelMedian = median(panelSeconds), minimalMedian = median(minimalSeconds);
    const long panelPeak = median(panelKb), minimalPeak = median(minimalKb);
    std::printf("median start-up to first paint: panel-setup %.1f ms (less the %.0f s pause), minimal %.1f ms\n",
                1000 * panelMedian, BROWSER_PAUSE_S, 1000 * minimalMedian);
    std::printf("start-up ratio: %.2f (target at most 1.5)\n", panelMedian / minimalMedian);
    std::printf("of which settings load and network bring-up (panel-setup -q, median): %.1f ms\n",
                1000 * median(headlessSeconds));
    std::printf("median peak RSS: panel-setup %ld KiB, minimal %ld KiB\n", panelPeak, minimalPeak);
    std::printf("peak RSS ratio: %.2f (target at most 1.3)\n", double(panelPeak) / double(minimalPeak));
    return 0;
}
