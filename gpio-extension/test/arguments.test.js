'use strict';
// Wrong arguments are caught before any chip is opened: on this machine, which
// has no GPIO chip, each of these calls would otherwise fail with ENOENT.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { gpio } = require('./module');
const { prototypeMembers } = require('./helpers');

const TYPE = { name: 'TypeError', code: 'ERR_INVALID_ARG_TYPE' };
const VALUE = { name: 'TypeError', code: 'ERR_INVALID_ARG_VALUE' };
const RANGE = { name: 'RangeError', code: 'ERR_OUT_OF_RANGE' };

function assertRejected(call, expected, message) {
    assert.throws(call, (error) => {
        assert.equal(error.name, expected.name, `${message}: ${error.message}`);
        assert.equal(error.code, expected.code, `${message}: ${error.message}`);
        return true;
    }, message);
}

test('a chip is named by a number or a string only', () => {
    const cases = [
        [undefined, TYPE], [null, TYPE], [true, TYPE], [{}, TYPE], [['gpiochip0'], TYPE], [1n, TYPE],
        [-1, RANGE], [1.5, RANGE], [NaN, RANGE], [Infinity, RANGE], [2 ** 32, RANGE],
        ['', VALUE], ['gpio\0chip0', VALUE],
    ];
    for (const [chip, expected] of cases) {
        const label = `chip ${String(chip)}`;
        assertRejected(() => new gpio.Chip(chip), expected, `new Chip(${label})`);
        assertRejected(() => gpio.getInstantLineValue(chip, 0), expected, `getInstantLineValue(${label})`);
        assertRejected(() => gpio.setInstantLineValue(chip, 0, 1), expected, `setInstantLineValue(${label})`);
    }
});

test('an offset is an integer from 0 to 2^32 - 1', () => {
    const cases = [
        [undefined, TYPE], ['1', TYPE], [null, TYPE], [true, TYPE],
        [-1, RANGE], [0.5, RANGE], [NaN, RANGE], [2 ** 32, RANGE],
    ];
    for (const [offset, expected] of cases) {
        assertRejected(() => gpio.getInstantLineValue('gpiochip0', offset), expected, `get offset ${offset}`);
        assertRejected(() => gpio.setInstantLineValue('gpiochip0', offset, 0), expected, `set offset ${offset}`);
    }
});

test('a value to drive is 0, 1, false or true', () => {
    const cases = [[undefined, TYPE], ['1', TYPE], [null, TYPE], [{}, TYPE], [2, RANGE], [-1, RANGE], [0.5, RANGE]];
    for (const [value, expected] of cases) {
        assertRejected(() => gpio.setInstantLineValue('gpiochip0', 0, value), expected, `value ${value}`);
    }
});

test('request options are a consumer name or an object of known settings', () => {
    const inputCases = [
        [5, TYPE], [null, TYPE], [['x'], TYPE], [() => 'x', TYPE],
        ['a\0b', VALUE],
        [{ consumer: 5 }, TYPE], [{ consumer: null }, TYPE],
        [{ activeLow: 1 }, TYPE], [{ activeLow: 'yes' }, TYPE],
        [{ bias: 1 }, TYPE], [{ bias: 'pullup' }, VALUE], [{ bias: 'PULL-UP' }, VALUE],
        // Only an output has a driver to configure.
        [{ drive: 'open-drain' }, VALUE],
    ];
    for (const [options, expected] of inputCases) {
        assertRejected(() => gpio.getInstantLineValue('gpiochip0', 0, options), expected,
            `input options ${JSON.stringify(options)}`);
    }
    const outputCases = [
        [5, TYPE], [{ drive: 'open' }, VALUE], [{ drive: true }, TYPE], [{ bias: 'up' }, VALUE],
        [{ activeLow: 0 }, TYPE],
    ];
    for (const [options, expected] of outputCases) {
        assertRejected(() => gpio.setInstantLineValue('gpiochip0', 0, 1, options), expected,
            `output options ${JSON.stringify(options)}`);
    }
});

test('a setting with a fixed set of names lists them when refused', () => {
    const biases = "options.bias must be one of 'as-is', 'disable', 'pull-up', 'pull-down'";
    const drives = "options.drive must be one of 'push-pull', 'open-drain', 'open-source'";
    assert.throws(() => gpio.getInstantLineValue('gpiochip0', 0, { bias: 1 }), { ...TYPE, message: biases });
    assert.throws(() => gpio.getInstantLineValue('gpiochip0', 0, { bias: 'up' }),
        { ...VALUE, message: `${biases}, not 'up'` });
    assert.throws(() => gpio.setInstantLineValue('gpiochip0', 0, 1, { drive: null }), { ...TYPE, message: drives });
    assert.throws(() => gpio.setInstantLineValue('gpiochip0', 0, 1, { bias: 'pull-up', drive: 'open' }),
        { ...VALUE, message: `${drives}, not 'open'` });
});

test('an options getter that throws passes its exception through', () => {
    const options = { get consumer() { throw new Error('from the getter'); } };
    assert.throws(() => gpio.getInstantLineValue('gpiochip0', 0, options), /from the getter/);
});

test('valid arguments get as far as opening the chip', () => {
    // Every setting accepted, so the failure is the missing chip itself.
    const input = { consumer: 'panel', activeLow: true, bias: 'pull-up' };
    const output = { consumer: 'panel', activeLow: false, bias: 'disable', drive: 'open-drain' };
    assert.throws(() => gpio.getInstantLineValue('gpiochip0', 0, input), { code: 'ENOENT' });
    assert.throws(() => gpio.getInstantLineValue('gpiochip0', 0, 'panel'), { code: 'ENOENT' });
    assert.throws(() => gpio.setInstantLineValue('gpiochip0', 0, true, output), { code: 'ENOENT' });
    assert.throws(() => gpio.setInstantLineValue(0, 4294967295, 0), { code: 'ENOENT' });
});

test('the classes are constructed with new, and their methods only work on their own objects', () => {
    assertRejected(() => gpio.Chip('gpiochip0'), TYPE, 'Chip()');
    assertRejected(() => gpio.Line(), TYPE, 'Line()');
    assertRejected(() => new gpio.Line({}, 0), TYPE, 'new Line({})');
    assertRejected(() => new gpio.Line(undefined, 0), TYPE, 'new Line()');
    const foreign = [{}, Object.create(gpio.Chip.prototype), Object.create(gpio.Line.prototype)];
    for (const receiver of foreign) {
        for (const Class of [gpio.Chip, gpio.Line]) {
            for (const [key, call] of prototypeMembers(Class.prototype)) {
                assert.throws(() => call.call(receiver), { name: 'TypeError', message: /Illegal invocation/ },
                    `${Class.name}.prototype.${key}`);
            }
        }
    }
});

test('no method or accessor can be called with new', () => {
    // The receiver of a construct call is a fresh object, not a Chip or Line.
    for (const Class of [gpio.Chip, gpio.Line]) {
        for (const [key, Method] of prototypeMembers(Class.prototype)) {
            const label = `${Class.name}.prototype.${key}`;
            assert.throws(() => new Method(), { name: 'TypeError', message: /not a constructor/ }, label);
            assert.throws(() => new Method('gpiochip0', 0), TypeError, label);
            assert.throws(() => Reflect.construct(Method, [], Class), TypeError, label);
            assert.throws(() => Reflect.construct(Method, [], gpio.Chip === Class ? gpio.Line : gpio.Chip),
                TypeError, label);
        }
    }
});
