'use strict';
const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const { gpio, modulePath } = require('../module');
const { SimChip, openFileCount } = require('./gpiosim');

describe('getInstantLineValue and setInstantLineValue against gpio-sim', () => {
    let sim;
    before(() => {
        sim = new SimChip({ numLines: 8 });
    });
    after(() => sim.remove());

    const isFree = (offset) => {
        const chip = new gpio.Chip(sim.name);
        try {
            return !chip.getLine(offset).info().used;
        } finally {
            chip.close();
        }
    };

    test('reads the present value of a line, however the chip is named', () => {
        for (const id of [sim.number, sim.path, sim.name, sim.label, String(sim.number)]) {
            sim.setPull(2, 'pull-up');
            assert.equal(gpio.getInstantLineValue(id, 2), 1, `by ${id}`);
            sim.setPull(2, 'pull-down');
            assert.equal(gpio.getInstantLineValue(id, 2), 0, `by ${id}`);
        }
        assert.equal(gpio.getInstantLineValue(sim.name, 2, { activeLow: true }), 1);
        assert.equal(gpio.getInstantLineValue(sim.name, 2, { bias: 'pull-up' }), 1);
        assert.ok(isFree(2), 'the line is not kept');
    });

    test('sets a line and leaves it free', () => {
        sim.setPull(3, 'pull-up');
        gpio.setInstantLineValue(sim.name, 3, 0, 'instant');
        assert.ok(isFree(3));
        assert.equal(sim.value(3), 1, 'the simulator returns a released line to its pull');
        gpio.setInstantLineValue(sim.number, 3, true, { activeLow: true, drive: 'open-drain' });
        assert.ok(isFree(3));
        sim.setPull(3, 'pull-down');
    });

    test('the value set reaches the line while it is held', async () => {
        // The line is held only for the moment of the call, so another process
        // sets it over and over while this one watches the simulated line.
        const script = `const g = require(${JSON.stringify(modulePath)});
            for (;;) g.setInstantLineValue(${JSON.stringify(sim.name)}, 6, 1);`;
        const writer = spawn(process.execPath, ['-e', script], { stdio: 'inherit' });
        try {
            const deadline = Date.now() + 30000;
            let seen = false;
            while (!seen && Date.now() < deadline) {
                seen = sim.value(6) === 1;
                if (!seen) {
                    await new Promise((resolve) => setImmediate(resolve));
                }
            }
            assert.ok(seen, 'the line was seen high while a pull-down held it low otherwise');
        } finally {
            writer.kill();
        }
        await new Promise((resolve) => writer.once('exit', resolve));
        assert.equal(sim.value(6), 0);
    });

    test('a line held elsewhere gives EBUSY', () => {
        const holder = new gpio.Chip(sim.name);
        try {
            // Kept in a variable: a dropped Line object releases its line when collected.
            const held = holder.getLine(4);
            held.requestOutput(1);
            assert.throws(() => gpio.getInstantLineValue(sim.name, 4), { code: 'EBUSY', message: /line 4 of/ });
            assert.throws(() => gpio.setInstantLineValue(sim.name, 4, 0), { code: 'EBUSY' });
            assert.equal(sim.value(4), 1);
        } finally {
            holder.close();
        }
    });

    test('an offset past the last line gives EINVAL', () => {
        assert.throws(() => gpio.getInstantLineValue(sim.name, 8), { code: 'EINVAL', message: /line 8 of/ });
        assert.throws(() => gpio.setInstantLineValue(sim.name, 8, 1), { code: 'EINVAL' });
    });

    test('no file descriptor is left open, whatever the outcome', () => {
        const before = openFileCount();
        const holder = new gpio.Chip(sim.name);
        const held = holder.getLine(4);
        held.requestInput();
        for (let i = 0; i < 100; ++i) {
            gpio.getInstantLineValue(sim.name, 1);
            gpio.setInstantLineValue(sim.name, 1, i % 2);
            assert.throws(() => gpio.getInstantLineValue(sim.name, 4), { code: 'EBUSY' });
            assert.throws(() => gpio.setInstantLineValue(sim.name, 99, 1), { code: 'EINVAL' });
        }
        held.release();
        holder.close();
        assert.equal(openFileCount(), before);
    });
});
