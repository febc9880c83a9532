'use strict';
// Line value writes and reads per second through gpio-extension against a C
// program doing the same with libgpiod, side by side on one simulated chip in
// the test VM. Prints the figures and the module's share of libgpiod's rate.
//
//   node gpio-bench.js GPIO_BENCH_LIBGPIOD [COUNT] [ROUNDS]
const { execFileSync } = require('node:child_process');
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
