'use strict';
const { describe, test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const { gpio, modulePath } = require('../module');
const { prototypeMembers } = require('../helpers');
const { SimChip, useSimChip, collectGarbage, collectUntil, openFileCount } = require('./gpiosim');

const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Keeps what an emitter reports.
function record(emitter) {
    const seen = { edges: [], overflows: [] };
    emitter.on('edge', (event) => seen.edges.push(event));
    emitter.on('overflow', (details) => seen.overflows.push(details));
    return seen;
}

async function until(condition, ms = 15000) {
    const deadline = Date.now() + ms;
    while (!condition()) {
        if (Date.now() > deadline) {
            return false;
        }
        await delay(5);
    }
    return true;
}

// Sleeps without giving the event loop a turn: edges made meanwhile wait in
// the kernel's queue. The pause lets the kernel handle each edge on its own
// before the next; it merges edges that come faster than its interrupt thread.
const sleeper = new Int32Array(new SharedArrayBuffer(4));
const pause = (ms) => Atomics.wait(sleeper, 0, 0, ms);

function assertInOrder(edges) {
    for (let i = 1; i < edges.length; ++i) {
        assert.ok(edges[i].timestamp >= edges[i - 1].timestamp, `event ${i} is not later than event ${i - 1}`);
    }
}

describe('edge events against gpio-sim', () => {
    const fixture = useSimChip({ numLines: 8 });
    const { open } = fixture;

    test('each edge setting reports its edges with the value after them and the kernel time', async () => {
        const settings = [
            [{ edge: 'both' }, ['rising', 'falling', 'rising', 'falling']],
            [{}, ['rising', 'falling', 'rising', 'falling']],
            [{ edge: 'rising', consumer: 'button' }, ['rising', 'rising']],
            [{ edge: 'falling' }, ['falling', 'falling']],
            [{ edge: 'both', activeLow: true }, ['falling', 'rising', 'falling', 'rising']],
            [{ edge: 'rising', activeLow: true }, ['rising', 'rising']],
        ];
        for (const [options, expected] of settings) {
            const line = open().getLine(3);
            assert.equal(line.requestEvents(options), line);
            assert.equal(line.requested, true);
            const seen = record(line);
            const label = JSON.stringify(options);
            for (const pull of ['pull-up', 'pull-down', 'pull-up', 'pull-down']) {
                const before = process.hrtime.bigint();
                const count = seen.edges.length;
                fixture.sim.setPull(3, pull);
                // An edge that is not reported would keep us waiting: a short
                // wait then, and the whole list is checked at the end.
                await until(() => seen.edges.length > count, 1500);
                for (const event of seen.edges.slice(count)) {
                    assert.equal(typeof event.timestamp, 'bigint');
                    assert.ok(event.timestamp >= before && event.timestamp <= process.hrtime.bigint(),
                        `${label}: the timestamp is the kernel's monotonic time of the edge`);
                }
            }
            assert.deepEqual(seen.edges.map((event) => event.edge), expected, label);
            for (const event of seen.edges) {
                assert.equal(event.offset, 3);
                assert.equal(event.value, event.edge === 'rising' ? 1 : 0, label);
            }
            assertInOrder(seen.edges);
            assert.equal(line.getValue(), options.activeLow ? 1 : 0, 'an events line can be read');
            assert.equal(line.info().consumer, options.consumer ?? 'gpio-extension');
            fixture.chip.close();
        }
        open();
    });

    test('a burst arrives in order, and a kernel queue that filled up is reported', async () => {
        const line = open().getLine(4);
        line.requestEvents({ edge: 'both' });
        const seen = record(line);
        // The event loop is busy while the simulator makes the edges, so they
        // wait in the kernel's queue and are read in one go.
        for (let i = 0; i < 12; ++i) {
            fixture.sim.setPull(4, i % 2 ? 'pull-down' : 'pull-up');
            pause(20);
        }
        assert.ok(await until(() => seen.edges.length >= 12, 5000), `${seen.edges.length} of 12 edges`);
        assert.deepEqual(seen.edges.map((event) => event.value), [1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0]);
        assertInOrder(seen.edges);
        assert.deepEqual(seen.overflows, []);

        // More than the kernel keeps (16 per line).
        seen.edges.length = 0;
        for (let i = 0; i < 40; ++i) {
            fixture.sim.setPull(4, i % 2 ? 'pull-down' : 'pull-up');
            pause(20);
        }
        assert.ok(await until(() => seen.overflows.length > 0, 5000), 'the overflow is reported');
        assert.deepEqual(seen.overflows[0], { offset: 4 });
        assert.equal(seen.edges.length, 16, 'the edges the kernel kept arrive too');
        assertInOrder(seen.edges);
        // The first edges are the ones the kernel kept.
        assert.deepEqual(seen.edges.slice(0, 4).map((event) => event.value), [1, 0, 1, 0]);
    });

    test('debouncing reports one edge for a bouncing contact, after the line has settled', async () => {
        const line = open().getLine(5);
        line.requestEvents({ debounce: 200 });
        const seen = record(line);
        // A contact that bounces and ends closed (high), then one that glitches
        // and ends as it was.
        let last = process.hrtime.bigint();
        for (const pull of ['pull-up', 'pull-down', 'pull-up', 'pull-down', 'pull-up']) {
            last = process.hrtime.bigint();
            fixture.sim.setPull(5, pull);
        }
        const settledAfter = last + 200_000_000n;
        assert.ok(await until(() => seen.edges.length > 0, 5000));
        const arrived = process.hrtime.bigint();
        assert.ok(arrived >= settledAfter, 'reported only after the debounce time');
        await delay(600);
        assert.equal(seen.edges.length, 1, 'a single edge');
        assert.equal(seen.edges[0].edge, 'rising');
        assert.equal(seen.edges[0].value, 1);
        assert.ok(seen.edges[0].timestamp >= last, 'stamped with the time of the last edge');
        assert.ok(arrived - seen.edges[0].timestamp >= 200_000_000n, 'reported a debounce time after it');

        fixture.sim.setPull(5, 'pull-down');
        fixture.sim.setPull(5, 'pull-up');
        await delay(600);
        assert.equal(seen.edges.length, 1, 'a glitch that ends where it began is no edge');

        // A clean change: one edge, a debounce time later.
        const start = process.hrtime.bigint();
        fixture.sim.setPull(5, 'pull-down');
        assert.ok(await until(() => seen.edges.length > 1, 5000));
        assert.ok(process.hrtime.bigint() - start >= 200_000_000n);
        assert.equal(seen.edges[1].edge, 'falling');
        await delay(400);
        assert.equal(seen.edges.length, 2);
    });

    test('debouncing keeps to the edge setting', async () => {
        const line = open().getLine(5);
        line.requestEvents({ debounce: 50, edge: 'falling' });
        const seen = record(line);
        fixture.sim.setPull(5, 'pull-up');
        await delay(300);
        fixture.sim.setPull(5, 'pull-down');
        assert.ok(await until(() => seen.edges.length > 0, 5000));
        await delay(300);
        assert.deepEqual(seen.edges.map((event) => event.edge), ['falling']);
    });

    test('a debounce time that runs out while the event loop is busy still sees the edges queued meanwhile', async () => {
        const line = open().getLine(3);
        line.requestEvents({ debounce: 50 });
        const seen = record(line);
        const raised = process.hrtime.bigint();
        fixture.sim.setPull(3, 'pull-up');
        // The rising edge is read and its wait begins; then a callback late in
        // the loop's turn stalls it past the wait, and the line falls again
        // 60 ms after it rose. The next turn runs the due timer before it polls.
        await delay(20);
        await new Promise((resolve) =>
            setImmediate(() => {
                pause(Math.max(0, 60 - Number(process.hrtime.bigint() - raised) / 1e6));
                fixture.sim.setPull(3, 'pull-down');
                pause(90);
                resolve();
            }));
        assert.ok(await until(() => seen.edges.length >= 2, 3000), `${seen.edges.length} of 2 edges`);
        await delay(200);
        assert.deepEqual(seen.edges.map((event) => event.edge), ['rising', 'falling']);
    });

    test('debouncing goes by the kernel times of edges read together after a stalled event loop', async () => {
        for (const [edge, expected] of [['both', ['rising', 'falling']], ['rising', ['rising']]]) {
            const line = open().getLine(2);
            line.requestEvents({ debounce: 100, edge });
            const seen = record(line);
            // The event loop is blocked throughout: a level held for 300 ms,
            // a glitch of two short pulses, then a level held again.
            const stamps = [];
            for (const [pull, ms] of [['pull-up', 300], ['pull-down', 20], ['pull-up', 20], ['pull-down', 300]]) {
                stamps.push(process.hrtime.bigint());
                fixture.sim.setPull(2, pull);
                pause(ms);
            }
            await until(() => seen.edges.length >= expected.length, 3000);
            await delay(300);
            assert.deepEqual(seen.edges.map((event) => event.edge), expected, edge);
            assert.deepEqual(seen.edges.map((event) => event.value), expected.map((name) => (name === 'rising' ? 1 : 0)));
            // Each stamped with the edge that began its level.
            assert.ok(seen.edges[0].timestamp >= stamps[0] && seen.edges[0].timestamp < stamps[1], edge);
            if (expected.length > 1) {
                assert.ok(seen.edges[1].timestamp >= stamps[3], edge);
            }
            fixture.chip.close();
        }
        open();
    });

    test('several lines are requested, read and written together', async () => {
        open();
        const outputs = fixture.chip.getLines([0, 1, 2]);
        assert.deepEqual(outputs.offsets, [0, 1, 2]);
        assert.equal(outputs.chip, fixture.chip);
        outputs.requestOutput([1, 0, true], { consumer: 'bulk' });
        assert.deepEqual([0, 1, 2].map((offset) => fixture.sim.value(offset)), [1, 0, 1]);
        outputs.setValues([0, 1, false]);
        assert.deepEqual([0, 1, 2].map((offset) => fixture.sim.value(offset)), [0, 1, 0]);
        assert.deepEqual(outputs.getValues(), [0, 1, 0]);
        assert.throws(() => outputs.setValues([1, 0]), { code: 'ERR_INVALID_ARG_VALUE' });
        assert.throws(() => outputs.setValues([1, 0, 2]), { code: 'ERR_OUT_OF_RANGE' });
        assert.throws(() => outputs.requestInput(), { code: 'EBUSY' });

        const inputs = fixture.chip.getLines([5, 3]);
        inputs.requestInput({ activeLow: true });
        fixture.sim.setPull(3, 'pull-up');
        assert.deepEqual(inputs.getValues(), [1, 0]);
        assert.throws(() => inputs.setValues([0, 0]), { code: 'EPERM' });
        inputs.release();
        assert.throws(() => inputs.getValues(), { code: 'EPERM' });

        assert.throws(() => fixture.chip.getLines([]), { code: 'ERR_OUT_OF_RANGE' });
        assert.throws(() => fixture.chip.getLines([1, 1]), { code: 'ERR_INVALID_ARG_VALUE' });
        assert.throws(() => fixture.chip.getLines([1, 8]), { code: 'EINVAL' });
        assert.throws(() => fixture.chip.getLines(1), { code: 'ERR_INVALID_ARG_TYPE' });
    });

    test('a request of several lines fails as a whole when one is taken, leaving the others free', () => {
        open();
        const elsewhere = new gpio.Chip(fixture.sim.name);
        try {
            const held = elsewhere.getLine(2);
            held.requestOutput(1);
            const lines = fixture.chip.getLines([1, 2, 3]);
            assert.throws(() => lines.requestInput(), { code: 'EBUSY', message: /lines 1, 2, 3 of/ });
            assert.throws(() => lines.requestOutput([1, 1, 1]), { code: 'EBUSY' });
            assert.throws(() => lines.requestEvents(), { code: 'EBUSY' });
            assert.equal(lines.requested, false);
            for (const offset of [1, 3]) {
                assert.equal(fixture.chip.getLine(offset).info().used, false, `line ${offset} is free`);
            }
            assert.equal(fixture.sim.value(2), 1, 'the holder keeps its line');
            const others = fixture.chip.getLines([1, 3]);
            others.requestEvents();
            others.release();
        } finally {
            elsewhere.close();
        }
    });

    test('events of several lines come through one emitter, in order, naming their line', async () => {
        const lines = open().getLines([6, 7]);
        lines.requestEvents({ edge: 'rising' });
        const seen = record(lines);
        for (const [offset, pull] of [[7, 'pull-up'], [6, 'pull-up'], [7, 'pull-down'], [7, 'pull-up']]) {
            fixture.sim.setPull(offset, pull);
            pause(20);
        }
        assert.ok(await until(() => seen.edges.length >= 3, 5000));
        await delay(200);
        assert.deepEqual(seen.edges.map((event) => event.offset), [7, 6, 7]);
        assertInOrder(seen.edges);
        assert.deepEqual(lines.getValues(), [1, 1]);
    });

    test('a listener may release its line, or close the chip, while events are pending', async () => {
        const line = open().getLine(1);
        line.requestEvents();
        let calls = 0;
        line.on('edge', () => {
            ++calls;
            line.release();
        });
        for (let i = 0; i < 6; ++i) {
            fixture.sim.setPull(1, i % 2 ? 'pull-down' : 'pull-up');
        }
        assert.ok(await until(() => calls > 0, 5000));
        await delay(300);
        assert.equal(calls, 1, 'nothing is delivered after the release');
        assert.equal(line.requested, false);
        assert.equal(line.info().used, false);

        const lines = fixture.chip.getLines([2, 3]);
        lines.requestEvents();
        let bulkCalls = 0;
        lines.on('edge', () => {
            ++bulkCalls;
            fixture.chip.close();
        });
        fixture.sim.setPull(2, 'pull-up');
        fixture.sim.setPull(3, 'pull-up');
        assert.ok(await until(() => bulkCalls > 0, 5000));
        await delay(300);
        assert.equal(bulkCalls, 1);
        assert.equal(lines.requested, false);
    });

    test('closing the chip with events pending delivers none and closes the descriptors', async () => {
        const before = openFileCount();
        const line = open().getLine(4);
        line.requestEvents();
        const seen = record(line);
        for (let i = 0; i < 5; ++i) {
            fixture.sim.setPull(4, i % 2 ? 'pull-down' : 'pull-up');
        }
        fixture.chip.close();
        await delay(300);
        assert.deepEqual(seen.edges, []);
        assert.equal(openFileCount(), before);
        assert.throws(() => line.requestEvents(), { code: 'EBADF' });
    });

    test('an unreferenced watched line that is garbage-collected stops and gives its line up', async () => {
        open();
        const before = openFileCount();
        let line = fixture.chip.getLine(6);
        line.requestEvents({ debounce: 10 });
        line.unref();
        line.on('edge', () => assert.fail('no delivery after collection'));
        assert.ok(openFileCount() > before);
        line = null;
        assert.ok(await collectUntil(() => openFileCount() === before), 'the descriptor is closed');
        assert.equal(fixture.chip.getLine(6).info().used, false);
        fixture.sim.setPull(6, 'pull-up');
        await delay(200);
    });

    test('a referenced watched line is kept for its listeners, with no variable of its own', async () => {
        const seen = [];
        (() => {
            const line = open().getLine(6);
            line.requestEvents();
            line.on('edge', (event) => seen.push(event.edge));
        })();
        await collectGarbage();
        fixture.sim.setPull(6, 'pull-up');
        assert.ok(await until(() => seen.length > 0, 5000), 'the edge is delivered after collections');
        assert.deepEqual(seen, ['rising']);
    });

    test('methods of several lines are no constructors either', () => {
        const lines = open().getLines([0]);
        for (const [key, Method] of prototypeMembers(Object.getPrototypeOf(lines))) {
            assert.throws(() => new Method(), TypeError, key);
            assert.throws(() => Method.call({}), TypeError, key);
        }
        assert.throws(() => lines.requestEvents({ edge: 'up' }), { code: 'ERR_INVALID_ARG_VALUE' });
        const edges = "options.edge must be one of 'rising', 'falling', 'both'";
        assert.throws(() => lines.requestEvents({ edge: 'up' }), { message: `${edges}, not 'up'` });
        assert.throws(() => lines.requestEvents({ edge: 1 }), { code: 'ERR_INVALID_ARG_TYPE', message: edges });
        assert.throws(() => lines.requestEvents({ debounce: -1 }), { code: 'ERR_OUT_OF_RANGE' });
        assert.throws(() => lines.requestEvents({ debounce: '5' }), { code: 'ERR_INVALID_ARG_TYPE' });
        assert.throws(() => lines.requestEvents({ drive: 'open-drain' }), { code: 'ERR_INVALID_ARG_VALUE' });
    });
});

test('a chip that goes away while watched ends the watching with an error event', async () => {
    const sim = new SimChip({ numLines: 2 });
    const chip = new gpio.Chip(sim.name);
    try {
        const line = chip.getLine(1);
        line.requestEvents();
        const errors = [];
        line.on('error', (error) => errors.push(error));
        sim.remove();
        assert.ok(await until(() => errors.length > 0, 5000), 'the error is reported');
        assert.equal(errors[0].code, 'ENODEV');
        assert.match(errors[0].message, /cannot read the events of line 1 of gpiochip/);
        await delay(200);
        assert.equal(errors.length, 1, 'watching ended');
        line.release();
    } finally {
        chip.close();
    }
});

describe('a watcher and the life of the process', () => {
    let sim;
    before(() => {
        sim = new SimChip({ numLines: 2 });
    });
    after(() => sim.remove());

    // Runs a program that watches line 0 and returns it with its output.
    function watch(body) {
        const script = `const gpio = require(${JSON.stringify(modulePath)});
            const chip = new gpio.Chip(${JSON.stringify(sim.name)});
            const line = chip.getLine(0);
            line.requestEvents();
            ${body}
            console.log('watching');`;
        const child = spawn(process.execPath, ['-e', script], { stdio: ['ignore', 'pipe', 'inherit'] });
        child.output = '';
        child.stdout.on('data', (data) => (child.output += data));
        child.exited = new Promise((resolve) => child.once('exit', (code) => resolve(code)));
        return child;
    }

    test('an unreferenced watcher lets the process end by itself', async () => {
        const child = watch(`line.unref(); line.on('edge', () => {});`);
        const code = await Promise.race([child.exited, delay(60000).then(() => 'still running')]);
        assert.equal(code, 0);
        assert.match(child.output, /watching/);
    });

    test('a referenced watcher keeps it running until the line is released', async () => {
        const child = watch(`line.unref().ref();
            line.on('edge', (event) => { console.log(event.edge); line.release(); });`);
        assert.ok(await until(() => child.output.includes('watching'), 60000));
        await delay(1000);
        assert.equal(child.exitCode, null, 'still running');
        sim.setPull(0, 'pull-up');
        const code = await Promise.race([child.exited, delay(30000).then(() => 'still running')]);
        assert.equal(code, 0);
        assert.match(child.output, /rising/);
        sim.setPull(0, 'pull-down');
    });
});
