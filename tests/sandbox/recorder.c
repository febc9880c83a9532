/*
 * Stand-in for a system program inside the panel sandbox (date, hwclock, reboot,
 * the browser-control program). It does nothing but append its argv, argv[0]
 * included, as one JSON array on one line to the sandbox's command log, so that
 * tests can compare the exact arguments a program received. Bytes of 0x80 and
 * above are copied as they are; control characters are escaped.
 */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static const char *const defaultLog = "/run/panel-sandbox/commands.log";

static void appendEscaped(char **out, const char *text)
{
    for (const unsigned char *c = (const unsigned char *)text; *c; ++c) {
        if (*c == '"' || *c == '\\') {
            *(*out)++ = '\\';
            *(*out)++ = (char)*c;
        } else if (*c < 0x20) {
            *out += sprintf(*out, "\\u%04x", *c);
        } else {
            *(*out)++ = (char)*c;
        }
    }
}

int main(int argc, char **argv)
{
    size_t size = 4;
    for (int i = 0; i < argc; ++i)
        size += 6 * strlen(argv[i]) + 3;
    char *line = malloc(size);
    if (!line)
        return 1;
    char *out = line;
    *out++ = '[';
    for (int i = 0; i < argc; ++i) {
        if (i > 0)
            *out++ = ',';
        *out++ = '"';
        appendEscaped(&out, argv[i]);
        *out++ = '"';
    }
    *out++ = ']';
    *out++ = '\n';

    const char *logPath = getenv("PANEL_SANDBOX_LOG");
    int fd = open(logPath && *logPath ? logPath : defaultLog, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return 1;
    /* One write per record: concurrent stand-ins never interleave their lines. */
    const ssize_t length = out - line;
    const ssize_t written = write(fd, line, (size_t)length);
    close(fd);
    free(line);
    return written == length ? 0 : 1;
}
