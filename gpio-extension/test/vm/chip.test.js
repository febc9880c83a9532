'use strict';
const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { gpio } = require('../module');
const fs = require('node:fs');
const { SimChip, collectUntil, openFileCount } = require('./gpiosim');
const { makeFifo, probeOpen } = require('../probe');

describe('Chip against gpio-sim', () => {
    let sim;
    before(() => {
        sim = new SimChip({ numLines: 8, lineNames: { 2: 'door-switch', 5: 'panel-lamp' } });
    });
    after(() => sim.remove());

    test('opens the chip however a user names it', () => {
        const ids = [sim.number, sim.path, sim.name, sim.label, String(sim.number)];
        for (const id of ids) {
            const chip = new gpio.Chip(id);
            assert.equal(chip.name, sim.name, `by ${id}`);
            assert.equal(chip.label, sim.label, `by ${id}`);
            assert.equal(chip.numLines, 8, `by ${id}`);
            assert.equal(chip.closed, false);
            chip.close();
        }
    });

    test('a number past the last chip gives ENOENT', () => {
        assert.throws(() => new gpio.Chip(sim.number + 50), { code: 'ENOENT' });
        assert.throws(() => new gpio.Chip(`${sim.label}-other`), { code: 'ENOENT' });
    });

    test('a device is known to be a GPIO chip before it is opened, however it is named', async () => {
        // Opening some devices has effects (/dev/watchdog arms the watchdog);
        // FIFOs in /dev show whether anything opened them.
        const number = sim.number + 40;
        const other = '/dev/not-a-gpio-chip';
        const numbered = `/dev/gpiochip${number}`;
        makeFifo(other);
        makeFifo(numbered);
        try {
            const cases = [
                [other, 'not-a-gpio-chip', 'ENOTTY'], [other, other, 'ENOTTY'],
                [numbered, number, 'ENOTTY'], [numbered, String(number), 'ENOTTY'],
                [numbered, `gpiochip${number}`, 'ENOTTY'], [numbered, 'no-such-label', 'ENOENT'],
            ];
            for (const [fifo, id, code] of cases) {
                for (const call of [() => new gpio.Chip(id), () => gpio.getInstantLineValue(id, 0)]) {
                    const { opened, error } = await probeOpen(fifo, call);
                    assert.equal(opened, false, `${call} with ${id} opened ${fifo}`);
                    assert.equal(error?.code, code, `${id}: ${error?.message}`);
                }
            }
            // The scan for a label passes over what is not a chip.
            const { opened, error } = await probeOpen(numbered, () => new gpio.Chip(sim.label).close());
            assert.equal(opened, false);
            assert.equal(error, undefined);
        } finally {
            fs.rmSync(other);
            fs.rmSync(numbered);
        }
    });

    test('gets lines by offset and finds them by name', () => {
        const chip = new gpio.Chip(sim.name);
        try {
            const line = chip.getLine(7);
            assert.ok(line instanceof gpio.Line);
            assert.equal(line.offset, 7);
            assert.equal(line.chip, chip);
            assert.equal(line.requested, false);
            assert.equal(chip.findLine('panel-lamp').offset, 5);
            assert.equal(chip.findLine('door-switch').offset, 2);
            assert.equal(chip.findLine('no-such-line'), null);
            assert.equal(new gpio.Line(chip, 5).offset, 5);
        } finally {
            chip.close();
        }
    });

    test('an offset past the last line gives EINVAL', () => {
        const chip = new gpio.Chip(sim.name);
        try {
            assert.throws(() => chip.getLine(8), { code: 'EINVAL', message: /cannot get line 8 of gpiochip/ });
            assert.throws(() => new gpio.Line(chip, 4294967295), { code: 'EINVAL' });
            assert.throws(() => chip.getLine(-1), { code: 'ERR_OUT_OF_RANGE' });
            assert.throws(() => chip.getLine('1'), { code: 'ERR_INVALID_ARG_TYPE' });
            assert.throws(() => chip.findLine(5), { code: 'ERR_INVALID_ARG_TYPE' });
        } finally {
            chip.close();
        }
    });

    test('close() releases every line requested through the chip', () => {
        const chip = new gpio.Chip(sim.name);
        const lamp = chip.getLine(5);
        const other = chip.getLine(6);
        lamp.requestOutput(1);
        other.requestOutput(1);
        assert.deepEqual([sim.value(5), sim.value(6)], [1, 1]);

        chip.close();
        assert.deepEqual([sim.value(5), sim.value(6)], [0, 0], 'released lines return to their pull');
        assert.equal(chip.closed, true);
        assert.equal(lamp.requested, false);
        assert.equal(chip.name, sim.name, 'the name stays readable');
        assert.equal(chip.numLines, 8);
        chip.close();

        for (const call of [() => lamp.getValue(), () => lamp.setValue(0), () => lamp.info(),
            () => lamp.requestInput(), () => chip.getLine(1), () => chip.findLine('panel-lamp')]) {
            assert.throws(call, { code: 'EBADF', message: /closed/ });
        }
        lamp.release();

        const again = new gpio.Chip(sim.name);
        again.getLine(5).requestInput();
        again.close();
    });

    test('a chip that is garbage-collected is closed and its lines released', async () => {
        const before = openFileCount();
        let held = { chip: new gpio.Chip(sim.name), idle: new gpio.Chip(sim.name) };
        held.line = held.chip.getLine(4);
        held.line.requestOutput(1);
        assert.equal(sim.value(4), 1);
        assert.ok(openFileCount() > before);
        held = null;
        assert.ok(await collectUntil(() => openFileCount() === before && sim.value(4) === 0),
            'the file descriptors are closed and the line released');
    });
});
