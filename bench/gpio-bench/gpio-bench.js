'use strict';
// Line value writes and reads per second through gpio-extension against a C
// program doing the same with libgpiod, side by side on one simulated chip in
// the test VM. Prints the figures and the module's share of libgpiod's rate.
//
// Then edge events, the module (edge-receiver.js) against a C program waiting
// with libgpiod and poll(), each a process of its own watching one line:
// latency from the kernel's timestamp to the callback, events per second in a
// sustained stream, and CPU time used while watching an idle line.
//
//   node gpio-bench.js GPIO_BENCH_LIBGPIOD [COUNT] [ROUNDS]
const { execFileSync, spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { gpio } = require('/payload/test/module');
const { SimChip } = require('/payload/test/vm/gpiosim');

const [cProgram, countText = '10000', roundsText = '15'] = process.argv.slice(2);
const count = Number(countText);
const rounds = Number(roundsText);
const OUTPUT = 0;
const INPUT = 1;

function measureModule(chipName) {
    const chip = new gpio.Chip(chipName);
    try {
        const output = chip.getLine(OUTPUT);
        const input = chip.getLine(INPUT);
        output.requestOutput(0, 'bench');
        input.requestInput('bench');
        let start = process.hrtime.bigint();
        for (let i = 0; i < count; ++i) {
            output.setValue(i & 1);
        }
        const writeSeconds = Number(process.hrtime.bigint() - start) / 1e9;
        let highReads = 0;
        start = process.hrtime.bigint();
        for (let i = 0; i < count; ++i) {
            highReads += input.getValue();
        }
        const readSeconds = Number(process.hrtime.bigint() - start) / 1e9;
        return { writesPerSecond: count / writeSeconds, readsPerSecond: count / readSeconds, highReads };
    } finally {
        chip.close();
    }
}

function measureLibgpiod(chipName) {
    const output = execFileSync(cProgram, [chipName, String(OUTPUT), String(INPUT), String(count)],
        { encoding: 'utf8' });
    return JSON.parse(output);
}

function readsAndWrites() {
    const sim = new SimChip({ numLines: 2 });
    try {
        sim.setPull(INPUT, 'pull-up');
        // Many short alternating rounds, best of each, so that a slow moment of the
        // emulated machine (or of a busy host) does not count against one side only.
        // One untimed round first, so that the module's loop is compiled before it counts.
        measureModule(sim.name);
        const best = { module: { writesPerSecond: 0, readsPerSecond: 0 }, libgpiod: { writesPerSecond: 0, readsPerSecond: 0 } };
        for (let round = 0; round < rounds; ++round) {
            for (const [side, result] of [['libgpiod', measureLibgpiod(sim.name)], ['module', measureModule(sim.name)]]) {
                if (result.highReads !== count) {
                    throw new Error(`${side} read ${result.highReads} highs of ${count} from a pulled-up line`);
                }
                best[side].writesPerSecond = Math.max(best[side].writesPerSecond, result.writesPerSecond);
                best[side].readsPerSecond = Math.max(best[side].readsPerSecond, result.readsPerSecond);
            }
        }
        const row = (name, key) => {
            const ratio = best.module[key] / best.libgpiod[key];
            console.log(`${name.padEnd(8)} ${best.libgpiod[key].toFixed(0).padStart(12)} ${best.module[key].toFixed(0).padStart(12)}`
                + `   ${ratio.toFixed(2)}`);
        };
        console.log(`gpio-bench: ${count} operations per round, best of ${rounds} rounds, under qemu (tcg)`);
        console.log('per second   libgpiod (C)  gpio-extension  ratio (target >= 0.5)');
        row('writes', 'writesPerSecond');
        row('reads', 'readsPerSecond');
    } finally {
        sim.remove();
    }
}

const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A receiver process watching `offset`: the C program or the module's.
async function startReceiver(side, chipName, offset) {
    const [program, args] = side === 'libgpiod'
        ? [cProgram, ['events', chipName, String(offset)]]
        : [process.execPath, [path.join(__dirname, 'edge-receiver.js'), chipName, String(offset)]];
    const child = spawn(program, args, { stdio: ['pipe', 'pipe', 'inherit'] });
    child.output = '';
    child.stdout.on('data', (data) => (child.output += data));
    child.done = new Promise((resolve, reject) => child.once('exit', (code) => (code === 0 ? resolve()
        : reject(new Error(`${side} receiver exited with ${code}`)))));
    while (!child.output.startsWith('ready\n')) {
        if (child.exitCode !== null) {
            throw new Error(`${side} receiver ended before it was ready`);
        }
        await delay(10);
    }
    return child;
}

async function finish(child) {
    child.stdin.end();
    await child.done;
    return JSON.parse(child.output.slice('ready\n'.length));
}

// CPU time a process has used so far, all its threads, in microseconds.
function cpuUs(pid) {
    let ns = 0;
    for (const task of fs.readdirSync(`/proc/${pid}/task`)) {
        ns += Number(fs.readFileSync(`/proc/${pid}/task/${task}/schedstat`, 'utf8').split(' ')[0]);
    }
    return ns / 1000;
}

// Sleeps until `when` (process.hrtime.bigint() time) without a turn of the
// event loop, finer than timers can: edges at a steady rate. A sleep, not a
// busy loop, so that the receivers and the kernel have the CPUs.
const sleeper = new Int32Array(new SharedArrayBuffer(4));
function waitUntil(when) {
    for (let now = process.hrtime.bigint(); now < when; now = process.hrtime.bigint()) {
        Atomics.wait(sleeper, 0, 0, Number(when - now) / 1e6);
    }
}

const percentile = (sorted, p) => sorted[Math.min(sorted.length - 1, Math.floor(sorted.length * p))];
const sides = ['libgpiod', 'module'];
const line = (name, values, format) => {
    const ratio = values.libgpiod === 0 ? 'n/a' : (values.module / values.libgpiod).toFixed(2);
    console.log(`${name.padEnd(28)} ${format(values.libgpiod).padStart(12)} ${format(values.module).padStart(14)}`
        + `   ${ratio}`);
};

async function edges() {
    const sim = new SimChip({ numLines: 2 });
    const offsets = { libgpiod: 0, module: 1 };
    const toggle = (offset, level) => sim.setPull(offset, level ? 'pull-up' : 'pull-down');
    try {
        // Latency: edges a few milliseconds apart, to both lines, in turns
        // whose order alternates.
        const edgeCount = Number(process.env.GPIO_BENCH_EDGES || 400);
        let receivers = {};
        for (const side of sides) {
            receivers[side] = await startReceiver(side, sim.name, offsets[side]);
        }
        for (let i = 0; i < edgeCount; ++i) {
            const order = i % 4 < 2 ? sides : [...sides].reverse();
            for (const side of order) {
                toggle(offsets[side], (i + 1) % 2);
            }
            await delay(5);
        }
        await delay(500);
        const latency = {};
        for (const side of sides) {
            latency[side] = await finish(receivers[side]);
            latency[side].sorted = latency[side].latencies.sort((a, b) => a - b);
        }

        // Sustained: edges at steady rates, one second each, to one receiver
        // at a time; what share of them it received.
        const rates = [250, 500, 1000, 2000];
        const sustained = {};
        for (const side of sides) {
            sustained[side] = {};
            for (const rate of rates) {
                const receiver = await startReceiver(side, sim.name, offsets[side]);
                const start = process.hrtime.bigint();
                const step = BigInt(Math.round(1e9 / rate));
                for (let i = 0; i < rate; ++i) {
                    waitUntil(start + BigInt(i) * step);
                    toggle(offsets[side], (i + 1) % 2);
                }
                await delay(500);
                sustained[side][rate] = await finish(receiver);
                toggle(offsets[side], 0);
                await delay(100);
            }
        }

        // Idle: a line without edges watched for ten seconds.
        receivers = {};
        const before = {};
        for (const side of sides) {
            receivers[side] = await startReceiver(side, sim.name, offsets[side]);
        }
        await delay(1000);
        for (const side of sides) {
            before[side] = cpuUs(receivers[side].pid);
        }
        await delay(Number(process.env.GPIO_BENCH_IDLE_MS || 10000));
        const idle = {};
        for (const side of sides) {
            idle[side] = cpuUs(receivers[side].pid) - before[side];
            await finish(receivers[side]);
        }

        const pick = (f) => Object.fromEntries(sides.map((side) => [side, f(side)]));
        console.log('');
        console.log(`gpio-bench edges: ${edgeCount} edges per line 5 ms apart for latency, 1 s of edges at each rate,`);
        console.log('10 s of an idle line for CPU time (all threads); each side a process of its own, under qemu (tcg)');
        console.log('                             libgpiod+poll  gpio-extension  ratio (latency target <= 2)');
        const us = (ns) => `${(ns / 1000).toFixed(0)} us`;
        line('latency median', pick((side) => percentile(latency[side].sorted, 0.5)), us);
        line('latency p99', pick((side) => percentile(latency[side].sorted, 0.99)), us);
        line('latency events received', pick((side) => latency[side].events), String);
        for (const rate of rates) {
            line(`received of ${rate} edges/s`, pick((side) => sustained[side][rate].events / rate),
                (v) => `${(v * 100).toFixed(1)} %`);
        }
        const lossless = (side) => Math.max(0, ...rates.filter((rate) => sustained[side][rate].events === rate));
        line('highest rate without loss', pick(lossless), (v) => `${v}/s`);
        line('queue overflows (all rates)',
            pick((side) => rates.reduce((sum, rate) => sum + sustained[side][rate].overflows, 0)), String);
        line('idle CPU in 10 s', idle, (v) => `${v.toFixed(0)} us`);
        line('CPU before, to start', before, (v) => `${(v / 1000).toFixed(0)} ms`);
    } finally {
        sim.remove();
    }
}

(async () => {
    if (!process.env.GPIO_BENCH_EDGES_ONLY) {
        readsAndWrites();
    }
    await edges();
})().catch((error) => {
    console.error(error);
    process.exitCode = 1;
});
