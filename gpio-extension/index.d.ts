// Type definitions for gpio-extension: GPIO chips and lines over libgpiod 1.x.

/**
 * A GPIO chip as a user names it: its number (`3` is /dev/gpiochip3), the path
 * of its device file (`"/dev/gpiochip3"`), its device name (`"gpiochip3"`),
 * its label (`"pinctrl-bcm2835"`) or its number as text (`"3"`).
 */
export type ChipId = number | string;

/** A line's logical value; `true` and `false` stand for 1 and 0. */
export type LineValue = 0 | 1 | boolean;

/** The pull resistor setting of a line; `"as-is"` leaves it unchanged. */
export type Bias = 'as-is' | 'disable' | 'pull-up' | 'pull-down';

/** How an output drives its line. */
export type Drive = 'push-pull' | 'open-drain' | 'open-source';

/** Settings of a request for an input. */
export interface InputOptions {
    /** Shown as the line's user by the kernel; default `"gpio-extension"`. */
    consumer?: string;
    /** Values are inverted: a low line reads 1. Default false. */
    activeLow?: boolean;
    /** Default `"as-is"`. */
    bias?: Bias;
}

/** Settings of a request for an output. */
export interface OutputOptions {
    /** Shown as the line's user by the kernel; default `"gpio-extension"`. */
    consumer?: string;
    /** Values are inverted: writing 1 drives the line low. Default false. */
    activeLow?: boolean;
    /** Default `"as-is"`. */
    bias?: Bias;
    /** Default `"push-pull"`. */
    drive?: Drive;
}

/** What the kernel says about a line, read afresh on each call of `Line.info()`. */
export interface LineInfo {
    offset: number;
    /** The line's name on its chip, or null if it has none. */
    name: string | null;
    /** The name its present user requested it under, or null. */
    consumer: string | null;
    direction: 'input' | 'output';
    activeLow: boolean;
    /** Whether anyone, this process, another one or the kernel, holds the line. */
    used: boolean;
    bias: Bias;
    drive: Drive;
}

/**
 * A failed system or libgpiod call. `code` is the errno name, e.g. `"ENOENT"`
 * (no such chip), `"ENOTTY"` (the file named is not a GPIO chip), `"EBUSY"`
 * (the line is requested already), `"EINVAL"` (no such line), `"EPERM"` (the
 * line is not requested through this object, or a write to an input),
 * `"EBADF"` (the chip is closed).
 * Wrong argument types throw a `TypeError` with `code` `"ERR_INVALID_ARG_TYPE"`,
 * unusable values a `TypeError` with `"ERR_INVALID_ARG_VALUE"`, and numbers out
 * of range a `RangeError` with `"ERR_OUT_OF_RANGE"`.
 */
export interface GpioError extends Error {
    code: string;
    /** The negative errno value, as in Node's own system errors. */
    errno: number;
}

/** The version of libgpiod the module runs with, e.g. `"1.6.3"`. */
export function version(): string;

/**
 * Reads one line in one call: requests it as an input, reads it and releases
 * it again. A consumer name may stand in place of the options.
 */
export function getInstantLineValue(chip: ChipId, offset: number, options?: string | InputOptions): 0 | 1;

/**
 * Sets one line in one call: requests it as an output driving `value` and
 * releases it again. What the line does once released is up to its driver:
 * most hardware keeps driving the value. A consumer name may stand in place of
 * the options.
 */
export function setInstantLineValue(chip: ChipId, offset: number, value: LineValue,
    options?: string | OutputOptions): void;

/** An open GPIO chip. */
export class Chip {
    /** Opens the chip; throws ENOENT if there is no such chip. */
    constructor(chip: ChipId);
    /** The kernel's name of the chip, e.g. `"gpiochip0"`. */
    readonly name: string;
    /** The chip's label, e.g. `"pinctrl-bcm2835"`. */
    readonly label: string;
    readonly numLines: number;
    readonly closed: boolean;
    /** A line of the chip, not yet requested; throws EINVAL for an offset past the last line. */
    getLine(offset: number): Line;
    /** The first line with this name, or null if the chip has none. */
    findLine(name: string): Line | null;
    /**
     * Closes the chip and releases every line requested through it; its Line
     * objects throw EBADF from then on. Closing a closed chip does nothing. A
     * chip that is garbage-collected is closed the same way.
     */
    close(): void;
}

/** One line of a chip. A line held by this object is released when the object is garbage-collected. */
export class Line {
    /** The same as `chip.getLine(offset)`. */
    constructor(chip: Chip, offset: number);
    readonly offset: number;
    readonly chip: Chip;
    /** Whether this object holds a request of the line. */
    readonly requested: boolean;
    info(): LineInfo;
    /** Requests the line as an input; throws EBUSY if anyone holds it already. */
    requestInput(options?: string | InputOptions): void;
    /** Requests the line as an output driving `value` (default 0); throws EBUSY if anyone holds it already. */
    requestOutput(value?: LineValue, options?: string | OutputOptions): void;
    /** The line's logical value; the line must be requested through this object. */
    getValue(): 0 | 1;
    /** Drives the line; it must be requested through this object as an output. */
    setValue(value: LineValue): void;
    /** Gives the line up; releasing a line this object does not hold does nothing. */
    release(): void;
}
