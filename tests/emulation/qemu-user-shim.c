/*
 * Preloaded into every armhf program that the test suite runs under qemu-user
 * (run-armhf puts it there with qemu's "-E LD_PRELOAD=..."). It papers over two
 * gaps of qemu-user that the panel's real kernel does not have:
 *
 * 1. qemu-user 7.2 refuses clone() with CLONE_PIDFD (EINVAL) but passes
 *    waitid(P_PIDFD, ...) to the host kernel, which knows it. Qt 5.15's forkfd
 *    takes that answer as "pidfds work", then stores the failed clone's -1 as
 *    the child's pid and reports the process as started. QProcess::kill() is
 *    then kill(-1, SIGKILL): every process of the host that root may signal.
 *    Answering the probe with EINVAL, as a kernel without pidfds would, makes
 *    forkfd use its plain fork() path, which qemu-user emulates.
 *
 * 2. There is no binfmt_misc handler for ARM executables here, so an emulated
 *    program that starts another armhf program (QProcess, the web engine's
 *    helpers) would get ENOEXEC. Executing an ARM ELF file goes through the
 *    emulator instead, with this library preloaded again. The emulator is
 *    executed through a symbolic link named like the program, so the kernel
 *    gives the process the program's name (what /proc/PID/stat, pgrep and
 *    killall see).
 *
 * As a last line of defence, kill(-1, ...) is refused outright: nothing on the
 * panel ever means "signal every process".
 *
 * Configured through the environment that run-armhf exports:
 *   PANEL_ARMHF_QEMU   the emulator (qemu-arm-static)
 *   PANEL_ARMHF_SHIM   this library
 *   PANEL_ARMHF_NAMES  a folder for the name links to the emulator
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <elf.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

#ifndef P_PIDFD
#define P_PIDFD 3
#endif
#ifndef CLONE_PIDFD
#define CLONE_PIDFD 0x00001000
#endif

extern char **environ;

typedef long (*SyscallFunction)(long, ...);
typedef int (*ExecveFunction)(const char *, char *const[], char *const[]);

static SyscallFunction realSyscall(void)
{
    static SyscallFunction function;
    if (!function)
        function = (SyscallFunction)dlsym(RTLD_NEXT, "syscall");
    return function;
}

static ExecveFunction realExecve(void)
{
    static ExecveFunction function;
    if (!function)
        function = (ExecveFunction)dlsym(RTLD_NEXT, "execve");
    return function;
}

/* The library must not reach the native programs that emulated ones start:
 * their loader would complain about a 32-bit ARM object on every start. */
__attribute__((constructor)) static void forgetPreload(void)
{
    unsetenv("LD_PRELOAD");
}

static void complain(const char *what)
{
    /* write(2) only: this may run between fork and exec. */
    static const char prefix[] = "qemu-user-shim: ";
    ssize_t ignored = write(STDERR_FILENO, prefix, sizeof prefix - 1);
    ignored = write(STDERR_FILENO, what, strlen(what));
    ignored = write(STDERR_FILENO, "\n", 1);
    (void)ignored;
}

long syscall(long number, ...)
{
    va_list list;
    va_start(list, number);
    long a[6];
    for (int i = 0; i < 6; ++i)
        a[i] = va_arg(list, long);
    va_end(list);

    if (number == SYS_waitid && a[0] == P_PIDFD) {
        errno = EINVAL;
        return -1;
    }
    if (number == SYS_clone && (a[0] & CLONE_PIDFD)) {
        errno = EINVAL;
        return -1;
    }
    if (number == SYS_kill && (pid_t)a[0] == -1) {
        complain("refusing kill(-1, ...): that would signal every process of the host");
        errno = EPERM;
        return -1;
    }
    return realSyscall()(number, a[0], a[1], a[2], a[3], a[4], a[5]);
}

int kill(pid_t pid, int signal)
{
    if (pid == -1) {
        complain("refusing kill(-1, ...): that would signal every process of the host");
        errno = EPERM;
        return -1;
    }
    return (int)realSyscall()(SYS_kill, (long)pid, (long)signal);
}

static int isArmExecutable(const char *path)
{
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return 0;
    Elf32_Ehdr header;
    const ssize_t got = read(fd, &header, sizeof header);
    close(fd);
    return got == (ssize_t)sizeof header && memcmp(header.e_ident, ELFMAG, SELFMAG) == 0
           && header.e_ident[EI_CLASS] == ELFCLASS32 && header.e_machine == EM_ARM;
}

/* Runs an ARM executable through the emulator; returns only on failure. */
static int execveThroughEmulator(const char *path, char *const argv[], char *const envp[])
{
    const char *qemu = getenv("PANEL_ARMHF_QEMU");
    const char *shim = getenv("PANEL_ARMHF_SHIM");
    const char *names = getenv("PANEL_ARMHF_NAMES");
    if (!qemu || !*qemu || !shim || !*shim) {
        complain("cannot start an armhf program: PANEL_ARMHF_QEMU or PANEL_ARMHF_SHIM is not set");
        errno = ENOEXEC;
        return -1;
    }

    const char *base = strrchr(path, '/');
    base = base ? base + 1 : path;
    char link[PATH_MAX];
    const char *emulator = qemu;
    if (names && *names && snprintf(link, sizeof link, "%s/%s", names, base) < (int)sizeof link) {
        mkdir(names, 0755);
        if (symlink(qemu, link) == 0 || errno == EEXIST)
            emulator = link;
    }

    char preload[PATH_MAX + 16];
    snprintf(preload, sizeof preload, "LD_PRELOAD=%s", shim);
    int count = 0;
    while (argv && argv[count])
        ++count;
    /* emulator -L / -E LD_PRELOAD=shim -0 argv0 path argv[1..] NULL */
    char *arguments[count + 9];
    int n = 0;
    arguments[n++] = (char *)emulator;
    arguments[n++] = (char *)"-L";
    arguments[n++] = (char *)"/";
    arguments[n++] = (char *)"-E";
    arguments[n++] = preload;
    arguments[n++] = (char *)"-0";
    arguments[n++] = (char *)(count > 0 ? argv[0] : path);
    arguments[n++] = (char *)path;
    for (int i = 1; i < count; ++i)
        arguments[n++] = argv[i];
    arguments[n] = NULL;
    return realExecve()(emulator, arguments, envp);
}

int execve(const char *path, char *const argv[], char *const envp[])
{
    if (isArmExecutable(path))
        return execveThroughEmulator(path, argv, envp);
    return realExecve()(path, argv, envp);
}

int execv(const char *path, char *const argv[])
{
    return execve(path, argv, environ);
}

int execvpe(const char *file, char *const argv[], char *const envp[])
{
    if (strchr(file, '/'))
        return execve(file, argv, envp);
    const char *search = getenv("PATH");
    if (!search || !*search)
        search = "/usr/local/bin:/usr/bin:/bin";
    int lastError = ENOENT;
    while (*search) {
        const char *end = strchrnul(search, ':');
        char candidate[PATH_MAX];
        const int length = (int)(end - search);
        if (snprintf(candidate, sizeof candidate, "%.*s/%s", length, search, file) < (int)sizeof candidate
            && access(candidate, X_OK) == 0) {
            execve(candidate, argv, envp);
            lastError = errno;
        }
        search = *end ? end + 1 : end;
    }
    errno = lastError;
    return -1;
}

int execvp(const char *file, char *const argv[])
{
    return execvpe(file, argv, environ);
}
