#include "sandboxguard.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// From tests/sandbox/standins, by CMake: the paths separated by colons.
const char standins[] = PANEL_SANDBOX_STANDINS;

bool isSameFile(const QByteArray &a, const QByteArray &b)
{
    struct stat sa, sb;
    return stat(a.constData(), &sa) == 0 && stat(b.constData(), &sb) == 0 && sa.st_dev == sb.st_dev
           && sa.st_ino == sb.st_ino;
}

} // namespace

bool insideSandbox()
{
    const QByteArray recorder = qgetenv("PANEL_SANDBOX_RECORDER");
    if (qgetenv("PANEL_SANDBOX") != "1" || recorder.isEmpty())
        return false;
    const QList<QByteArray> programs = QByteArray(standins).split(':');
    for (const QByteArray &program : programs) {
        if (program.isEmpty() || !isSameFile(program, recorder))
            return false;
    }
    return !programs.isEmpty();
}

void requireSandbox()
{
    if (!insideSandbox()) {
        std::fprintf(stderr, "refusing to run: this test runs system commands and belongs inside "
                             "the panel sandbox (tests/sandbox/panel-sandbox)\n");
        std::exit(3);
    }
}

bool insideSandboxPidNamespace(QString *why)
{
    QString reason;
    const QString host = QString::fromLocal8Bit(qgetenv("PANEL_SANDBOX_HOST_PID"));
    // The link's text itself, "pid:[inode]", as readlink(1) gave it to the sandbox.
    char link[64] = {};
    const ssize_t length = ::readlink("/proc/self/ns/pid", link, sizeof link - 1);
    const QString own = length > 0 ? QString::fromLatin1(link, int(length)) : QString();
    QFile init("/proc/1/cmdline");
    QList<QByteArray> initArguments;
    if (init.open(QIODevice::ReadOnly))
        initArguments = init.readAll().split('\0');
    if (qgetenv("PANEL_SANDBOX") != "1" || host.isEmpty())
        reason = "not started by the panel sandbox";
    else if (own.isEmpty() || own == host)
        reason = "still in the host's PID namespace";
    // The sandbox's own script is the first process of its namespace; on the
    // host that is the real init.
    else if (initArguments.value(2) != "--inside" || !initArguments.value(1).endsWith("/panel-sandbox"))
        reason = "process 1 is not the panel sandbox";
    if (why)
        *why = reason;
    return reason.isEmpty();
}

void requireSandboxPidNamespace()
{
    requireSandbox();
    QString why;
    if (!insideSandboxPidNamespace(&why)) {
        std::fprintf(stderr,
                     "refusing to run: this test ends processes and belongs inside the "
                     "panel sandbox's own PID namespace (%s)\n",
                     qPrintable(why));
        std::exit(3);
    }
}
