/*
 * The plain-libgpiod side of the GPIO benchmark: line value writes and reads
 * per second, the same loop that gpio-bench.js runs through the module.
 *
 *   gpio-bench-libgpiod CHIP OUTPUT_OFFSET INPUT_OFFSET COUNT
 *
 * Prints one JSON object: {"writesPerSecond": ..., "readsPerSecond": ...}.
 */
#include <gpiod.h>

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

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

int main(int argc, char **argv)
{
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
