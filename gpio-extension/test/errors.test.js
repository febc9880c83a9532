'use strict';
// Failures of the system calls, on a machine without GPIO chips.
const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { gpio } = require('./module');
const { openFileCount } = require('./helpers');
const { makeFifo, probeOpen } = require('./probe');

function assertSystemError(call, code, pattern) {
    assert.throws(call, (error) => {
        assert.ok(error instanceof Error);
        assert.equal(error.code, code, error.message);
        assert.equal(typeof error.errno, 'number');
        assert.ok(error.errno < 0, 'errno is negative, as in Node\'s own system errors');
        assert.match(error.message, pattern);
        assert.ok(error.message.includes(`(${code})`), error.message);
        return true;
    });
}

test('a chip that does not exist gives ENOENT, however it is named', () => {
    const names = [
        [7, /cannot open GPIO chip gpiochip7: No such file or directory/],
        ['7', /'7'/],
        ['gpiochip7', /'gpiochip7'/],
        ['/dev/gpiochip7', /'\/dev\/gpiochip7'/],
        ['no-such-label', /'no-such-label'/],
        ['99999999999', /'99999999999'/],
    ];
    for (const [name, pattern] of names) {
        assertSystemError(() => new gpio.Chip(name), 'ENOENT', pattern);
        assertSystemError(() => gpio.getInstantLineValue(name, 0), 'ENOENT', pattern);
        assertSystemError(() => gpio.setInstantLineValue(name, 0, 1), 'ENOENT', pattern);
    }
    assert.throws(() => new gpio.Chip('gpiochip7'), { errno: -2 });
});

test('a file that is not a GPIO chip is refused', () => {
    assertSystemError(() => new gpio.Chip('/dev/null'), 'ENOTTY', /cannot open GPIO chip '\/dev\/null'/);
    assert.throws(() => new gpio.Chip('/dev'), (error) => typeof error.code === 'string' && error.code[0] === 'E');
});

test('a path is not opened before it is known to be a GPIO chip', async () => {
    // Opening a device may have effects of its own (a watchdog starts
    // counting); a FIFO shows whether anything opened it.
    const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'gpio-probe-'));
    try {
        const fifo = path.join(dir, 'gpiochip0');
        makeFifo(fifo);
        fs.symlinkSync(fifo, path.join(dir, 'link'));
        for (const target of [fifo, path.join(dir, 'link')]) {
            const calls = [() => new gpio.Chip(target), () => gpio.getInstantLineValue(target, 0),
                () => gpio.setInstantLineValue(target, 0, 1)];
            for (const call of calls) {
                const { opened, error } = await probeOpen(fifo, call);
                assert.equal(opened, false, `${call} opened ${target}`);
                assert.equal(error?.code, 'ENOTTY', `${call}: ${error?.message}`);
            }
        }
    } finally {
        fs.rmSync(dir, { recursive: true, force: true });
    }
});

test('failed opens leave no file descriptor behind', () => {
    const before = openFileCount();
    for (let i = 0; i < 200; ++i) {
        assert.throws(() => new gpio.Chip('/dev/null'));
        assert.throws(() => new gpio.Chip(i));
        assert.throws(() => gpio.getInstantLineValue('/dev/null', 0));
        assert.throws(() => gpio.setInstantLineValue('/dev/null', 0, 1));
    }
    assert.equal(openFileCount(), before);
});

test('the exceptions are ordinary Error objects', () => {
    try {
        new gpio.Chip('gpiochip7');
        assert.fail('the chip does not exist');
    } catch (error) {
        assert.equal(Object.getPrototypeOf(error), Error.prototype);
        assert.match(error.stack, /errors\.test\.js/);
    }
});
