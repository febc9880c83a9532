#ifndef SANDBOXGUARD_H
#define SANDBOXGUARD_H

#include <QByteArray>
#include <QtGlobal>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>

// Tests that run commands (network, clock, reboot, browser) call this first.
// Outside the panel sandbox they would flush this host's eth0 or set its clock,
// so the binary stops at once instead of running a single test.
inline bool isSameFile(const char *a, const QByteArray &b)
{
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev
        && sa.st_ino == sb.st_ino;
}

inline void requireSandbox()
{
    const QByteArray recorder = qgetenv("PANEL_SANDBOX_RECORDER");
    const bool inside = qgetenv("PANEL_SANDBOX") == "1" && !recorder.isEmpty()
        && isSameFile("/bin/date", recorder) && isSameFile("/sbin/hwclock", recorder)
        && isSameFile("/sbin/reboot", recorder);
    if (!inside) {
        std::fprintf(stderr, "refusing to run: this test runs system commands and belongs inside "
                             "the panel sandbox (tests/sandbox/panel-sandbox)\n");
        std::exit(3);
    }
}

#endif // SANDBOXGUARD_H
