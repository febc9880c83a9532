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

/** Which edges of a line are reported. */
export type EdgeSetting = 'rising' | 'falling' | 'both';

/** Settings of a request for edge events: those of an input, and which edges. */
export interface EventOptions extends InputOptions {
    /** Default `"both"`. Edges are logical: with `activeLow` a line going low is a rising edge. */
    edge?: EdgeSetting;
    /**
     * Milliseconds a new level must hold before its edge is reported, for
     * contacts that bounce; the edges in between are not reported. Default 0:
     * every edge as the kernel reports it.
     */
    debounce?: number;
}

/** One edge of a watched line. */
export interface EdgeEvent {
    /** The line's offset on its chip. */
    offset: number;
    edge: 'rising' | 'falling';
    /** The line's logical value after the edge. */
    value: 0 | 1;
    /**
     * When the kernel saw the edge, in nanoseconds of the monotonic clock, the
     * one `process.hrtime.bigint()` reads. With debouncing, the time of the
     * last edge before the line settled.
     */
    timestamp: bigint;
}

/**
 * The kernel's queue of a line's events (16 events) was found full: edges
 * after the ones delivered just before may have been lost.
 */
export interface OverflowEvent {
    offset: number;
}

/**
 * The events of lines requested for them, as an EventEmitter: `'edge'` for
 * each edge, in the order they happened; `'overflow'` when the kernel's queue
 * filled up; `'error'` when the events cannot be read any more (watching then
 * ends). Watching keeps the process running, and the object with its
 * listeners, until the lines are released or their chip closed, unless
 * `unref()` says otherwise (then an object nothing refers to may be collected,
 * which ends its watching).
 */
export interface EdgeEmitter {
    on(event: 'edge', listener: (event: EdgeEvent) => void): this;
    on(event: 'overflow', listener: (details: OverflowEvent) => void): this;
    on(event: 'error', listener: (error: GpioError) => void): this;
    on(event: string | symbol, listener: (...args: any[]) => void): this;
    once(event: 'edge', listener: (event: EdgeEvent) => void): this;
    once(event: 'overflow', listener: (details: OverflowEvent) => void): this;
    once(event: 'error', listener: (error: GpioError) => void): this;
    once(event: string | symbol, listener: (...args: any[]) => void): this;
    off(event: string | symbol, listener: (...args: any[]) => void): this;
    addListener(event: string | symbol, listener: (...args: any[]) => void): this;
    removeListener(event: string | symbol, listener: (...args: any[]) => void): this;
    removeAllListeners(event?: string | symbol): this;
    listenerCount(event: string | symbol): number;
    emit(event: string | symbol, ...args: any[]): boolean;
    /** Watching keeps Node's event loop running (the default). */
    ref(): this;
    /** Watching alone does not keep Node's event loop running. */
    unref(): this;
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
    /**
     * Several lines of the chip, 1 to 64 different offsets, not yet requested;
     * throws EINVAL for an offset past the last line.
     */
    getLines(offsets: number[]): Lines;
    /** The first line with this name, or null if the chip has none. */
    findLine(name: string): Line | null;
    /**
     * Closes the chip and releases every line requested through it; its Line
     * objects throw EBADF from then on. Closing a closed chip does nothing. A
     * chip that is garbage-collected is closed the same way.
     */
    close(): void;
}

/**
 * One line of a chip. A line held by this object is released when the object
 * is garbage-collected. A line requested for events emits them (see EdgeEmitter).
 */
export interface Line extends EdgeEmitter {}
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
    /**
     * Requests the line for edge events and starts watching it; throws EBUSY
     * if anyone holds it already. The line's value can be read as well.
     */
    requestEvents(options?: string | EventOptions): this;
    /** Gives the line up and ends its events; releasing a line this object does not hold does nothing. */
    release(): void;
}

/**
 * Several lines of one chip, from `chip.getLines()`, requested, read and
 * written together: each request and each read or write is one kernel request,
 * so the values change together and a request fails as a whole (EBUSY if one
 * line is held), leaving the other lines free. Their events come through this
 * one emitter, each naming its line.
 */
export interface Lines extends EdgeEmitter {
    /** The offsets, in the order values are given and returned. */
    readonly offsets: number[];
    readonly chip: Chip;
    /** Whether this object holds a request of the lines. */
    readonly requested: boolean;
    requestInput(options?: string | InputOptions): void;
    /** Requests the lines as outputs driving `values`, one per line (default all 0). */
    requestOutput(values?: LineValue[], options?: string | OutputOptions): void;
    requestEvents(options?: string | EventOptions): this;
    /** The lines' logical values, in the order of `offsets`. */
    getValues(): Array<0 | 1>;
    /** Drives all the lines at once; one value per line, in the order of `offsets`. */
    setValues(values: LineValue[]): void;
    /** Gives the lines up and ends their events. */
    release(): void;
}
