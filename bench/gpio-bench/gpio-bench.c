/*
 * The plain-libgpiod side of the GPIO benchmark: line value writes and reads
 * per second, the same loop that gpio-bench.js runs through the module.
 *
 *   gpio-bench-libgpiod CHIP OUTPUT_OFFSET INPUT_OFFSET COUNT
 *
 * Prints one JSON object: {"writesPerSecond": ..., "readsPerSecond": ...}.
 *
 *   gpio-bench-libgpiod events CHIP OFFSET
 *
 * Waits for both edges of the line with poll(), as edge-receiver.js does
 * through the module, until its standard input ends. Prints "ready" once the
 * line is requested, then one JSON object: the number of events, how often
 * the kernel's queue was found full, and each event's latency in nanoseconds
 * from the kernel's timestamp to its reading here.
 */
#include <gpiod.h>

#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static double now(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

static int fail(const char *what)
{
    fprintf(stderr, "gpio-bench-libgpiod: %s: %s\n", what, strerror(errno));
    return 1;
}

static uint64_t nowNs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

static int watchEvents(const char *chipName, unsigned offset)
{
    struct gpiod_chip *chip = gpiod_chip_open_lookup(chipName);
    if (!chip)
        return fail("open chip");
    struct gpiod_line *line = gpiod_chip_get_line(chip, offset);
    if (!line || gpiod_line_request_both_edges_events(line, "bench") < 0)
        return fail("request events");
    size_t capacity = 1024, count = 0;
    long overflows = 0;
    uint64_t *latencies = malloc(capacity * sizeof *latencies);
    if (!latencies)
        return fail("allocate");
    printf("ready\n");
    fflush(stdout);

    struct pollfd fds[2] = {{gpiod_line_event_get_fd(line), POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
    for (;;) {
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return fail("poll");
        }
        if (fds[0].revents & POLLIN) {
            struct gpiod_line_event events[16];
            const int got = gpiod_line_event_read_multiple(line, events, 16);
            if (got < 0)
                return fail("read events");
            const uint64_t now = nowNs();
            if (got == 16)
                ++overflows;
            for (int i = 0; i < got; ++i) {
                if (count == capacity) {
                    capacity *= 2;
                    latencies = realloc(latencies, capacity * sizeof *latencies);
                    if (!latencies)
                        return fail("allocate");
                }
                const uint64_t stamp = (uint64_t)events[i].ts.tv_sec * 1000000000u + (uint64_t)events[i].ts.tv_nsec;
                latencies[count++] = now - stamp;
            }
        }
        if (fds[1].revents) {
            char buffer[64];
            if (read(STDIN_FILENO, buffer, sizeof buffer) <= 0)
                break;
        }
    }
    printf("{\"events\": %zu, \"overflows\": %ld, \"latencies\": [", count, overflows);
    for (size_t i = 0; i < count; ++i)
        printf("%s%llu", i ? ", " : "", (unsigned long long)latencies[i]);
    printf("]}\n");
    free(latencies);
    gpiod_chip_close(chip);
    return 0;
}

int main(int argc, char **argv)
{
    if (argc == 4 && strcmp(argv[1], "events") == 0)
        return watchEvents(argv[2], (unsigned)atoi(argv[3]));
    if (argc != 5) {
        fprintf(stderr, "usage: %s CHIP OUTPUT_OFFSET INPUT_OFFSET COUNT\n", argv[0]);
        return 2;
    }
    const long count = strtol(argv[4], NULL, 10);
    struct gpiod_chip *chip = gpiod_chip_open_lookup(argv[1]);
    if (!chip)
        return fail("open chip");
    struct gpiod_line *output = gpiod_chip_get_line(chip, (unsigned)atoi(argv[2]));
    struct gpiod_line *input = gpiod_chip_get_line(chip, (unsigned)atoi(argv[3]));
    if (!output || !input)
        return fail("get line");
    if (gpiod_line_request_output(output, "bench", 0) < 0 || gpiod_line_request_input(input, "bench") < 0)
        return fail("request line");

    double start = now();
    for (long i = 0; i < count; ++i) {
        if (gpiod_line_set_value(output, (int)(i & 1)) < 0)
            return fail("set value");
    }
    const double writeSeconds = now() - start;

    long sum = 0;
    start = now();
    for (long i = 0; i < count; ++i) {
        const int value = gpiod_line_get_value(input);
        if (value < 0)
            return fail("get value");
        sum += value;
    }
    const double readSeconds = now() - start;

    printf("{\"writesPerSecond\": %.0f, \"readsPerSecond\": %.0f, \"highReads\": %ld}\n", count / writeSeconds,
           count / readSeconds, sum);
    gpiod_chip_close(chip);
    return 0;
}
