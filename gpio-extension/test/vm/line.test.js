'use strict';
const { describe, test } = require('node:test');
const assert = require('node:assert/strict');
const { gpio } = require('../module');
const { useSimChip, collectUntil } = require('./gpiosim');

describe('Line against gpio-sim', () => {
    const fixture = useSimChip({ numLines: 8, lineNames: { 3: 'start-button' } });
    const { open } = fixture;

    test('an input follows what the outside world does to the line', () => {
        const line = open().getLine(3);
        line.requestInput('test-input');
        for (const level of [1, 0, 1, 1, 0]) {
            fixture.sim.setPull(3, level ? 'pull-up' : 'pull-down');
            assert.equal(line.getValue(), level);
        }
    });

    test('an active-low input reads inverted', () => {
        const line = open().getLine(3);
        line.requestInput({ activeLow: true });
        fixture.sim.setPull(3, 'pull-up');
        assert.equal(line.getValue(), 0);
        fixture.sim.setPull(3, 'pull-down');
        assert.equal(line.getValue(), 1);
        assert.equal(line.info().activeLow, true);
    });

    test('a requested bias reaches the line', () => {
        const line = open().getLine(2);
        line.requestInput({ bias: 'pull-up' });
        assert.equal(line.getValue(), 1);
        assert.equal(line.info().bias, 'pull-up');
    });

    test('an output drives the simulated line', () => {
        const line = open().getLine(6);
        line.requestOutput(1, 'test-output');
        assert.equal(fixture.sim.value(6), 1, 'the initial value');
        line.setValue(0);
        assert.equal(fixture.sim.value(6), 0);
        line.setValue(true);
        assert.equal(fixture.sim.value(6), 1);
        assert.equal(line.getValue(), 1, 'an output reads back what it drives');
        line.setValue(false);
        assert.equal(fixture.sim.value(6), 0);
        // The outside world does not override a driven line.
        fixture.sim.setPull(6, 'pull-up');
        assert.equal(fixture.sim.value(6), 0);
    });

    test('an output starts low unless told otherwise, and active-low inverts it', () => {
        open();
        fixture.sim.setPull(1, 'pull-up');
        const plain = fixture.chip.getLine(1);
        plain.requestOutput();
        assert.equal(fixture.sim.value(1), 0);
        const inverted = fixture.chip.getLine(7);
        inverted.requestOutput(1, { activeLow: true });
        assert.equal(fixture.sim.value(7), 0);
    });

    test('line info reports what the kernel knows', () => {
        const line = open().getLine(3);
        assert.deepEqual(line.info(), {
            offset: 3, name: 'start-button', consumer: null, direction: 'input', activeLow: false, used: false,
            bias: 'as-is', drive: 'push-pull',
        });
        line.requestOutput(0, { consumer: 'panel-lamp', drive: 'open-drain' });
        assert.deepEqual(line.info(), {
            offset: 3, name: 'start-button', consumer: 'panel-lamp', direction: 'output', activeLow: false,
            used: true, bias: 'as-is', drive: 'open-drain',
        });
        const unnamed = fixture.chip.getLine(0);
        assert.equal(unnamed.info().name, null);
        unnamed.requestInput();
        assert.equal(fixture.chip.getLine(0).info().consumer, 'gpio-extension', 'the default consumer');
    });

    test('info is read afresh: it sees requests made elsewhere', () => {
        const line = open().getLine(5);
        const elsewhere = new gpio.Chip(fixture.sim.name);
        try {
            assert.equal(line.info().used, false);
            const other = elsewhere.getLine(5);
            other.requestInput('other-program');
            assert.equal(line.info().used, true);
            assert.equal(line.info().consumer, 'other-program');
        } finally {
            elsewhere.close();
        }
        assert.equal(line.info().used, false);
    });

    test('a second request of a requested line fails with EBUSY', () => {
        const line = open().getLine(4);
        line.requestOutput(1);
        const elsewhere = new gpio.Chip(fixture.sim.name);
        try {
            assert.throws(() => elsewhere.getLine(4).requestInput(), { code: 'EBUSY', message: /line 4/ });
            assert.throws(() => elsewhere.getLine(4).requestOutput(0), { code: 'EBUSY' });
        } finally {
            elsewhere.close();
        }
        assert.throws(() => fixture.chip.getLine(4).requestInput(), { code: 'EBUSY' }, 'through the same chip');
        assert.throws(() => line.requestInput(), { code: 'EBUSY' }, 'through the same object');
        assert.equal(fixture.sim.value(4), 1, 'the failed requests left the holder alone');
    });

    test('only the object that requested a line reads, writes and releases it', async () => {
        const holder = open().getLine(4);
        holder.requestOutput(1);
        let other = fixture.chip.getLine(4);
        assert.equal(other.requested, false);
        assert.throws(() => other.getValue(), { code: 'EPERM', message: /not requested/ });
        assert.throws(() => other.setValue(0), { code: 'EPERM' });
        other.release();
        assert.equal(fixture.sim.value(4), 1);
        assert.equal(holder.requested, true);

        // A FinalizationRegistry tells when the object is gone without keeping
        // it alive the way a WeakRef's deref() does.
        let collected = false;
        const registry = new FinalizationRegistry(() => {
            collected = true;
        });
        registry.register(other, 'other');
        other = null;
        assert.ok(await collectUntil(() => collected), 'the second object was collected');
        assert.equal(fixture.sim.value(4), 1, 'collecting another object of the line left the request alone');
        holder.setValue(0);
        assert.equal(fixture.sim.value(4), 0);
    });

    test('reading or writing a line that is not requested gives EPERM', () => {
        const line = open().getLine(2);
        assert.throws(() => line.getValue(), { code: 'EPERM' });
        line.requestInput();
        assert.throws(() => line.setValue(1), { code: 'EPERM', message: /cannot set line 2/ });
        assert.throws(() => line.setValue(2), { code: 'ERR_OUT_OF_RANGE' });
        assert.throws(() => line.setValue('1'), { code: 'ERR_INVALID_ARG_TYPE' });
        assert.throws(() => line.requestOutput(1, { drive: 'sideways' }), { code: 'ERR_INVALID_ARG_VALUE' });
    });

    test('options read after the chip was closed by their own getter meet a closed chip', () => {
        // The getter runs inside the request; the chip's lines are freed by then.
        const line = open().getLine(2);
        const options = { get consumer() { fixture.chip.close(); return 'late'; } };
        assert.throws(() => line.requestInput(options), { code: 'EBADF' });
        assert.throws(() => line.requestOutput(1, options), { code: 'EBADF' });
        assert.equal(line.requested, false);
    });

    test('release() frees the line for anyone', () => {
        const line = open().getLine(6);
        line.requestOutput(1);
        line.release();
        assert.equal(line.requested, false);
        assert.equal(fixture.sim.value(6), 0, 'a released line returns to its pull');
        assert.equal(line.info().used, false);
        assert.throws(() => line.getValue(), { code: 'EPERM' });
        line.release();

        const elsewhere = new gpio.Chip(fixture.sim.name);
        try {
            const other = elsewhere.getLine(6);
            other.requestOutput(1);
            assert.equal(fixture.sim.value(6), 1);
        } finally {
            elsewhere.close();
        }
        line.requestInput();
        assert.equal(line.requested, true);
    });

    test('a requested line that is garbage-collected is released', async () => {
        open();
        let line = fixture.chip.getLine(5);
        line.requestOutput(1);
        assert.equal(fixture.sim.value(5), 1);
        line = null;
        assert.ok(await collectUntil(() => fixture.sim.value(5) === 0), 'the line returned to its pull');
        fixture.chip.getLine(5).requestInput();
    });
});
