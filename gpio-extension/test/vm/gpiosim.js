'use strict';
// Simulated GPIO chips of the kernel's gpio-sim driver, made through configfs,
// for the tests that run inside the VM. A line's "pull" attribute stands for
// what the outside world does to an input; its "value" attribute shows what the
// line carries, including what an output drives.
const fs = require('node:fs');
const path = require('node:path');
const { before, after, afterEach } = require('node:test');
const v8 = require('node:v8');
const vm = require('node:vm');
const { gpio } = require('../module');
const { openFileCount } = require('../helpers');

const CONFIGFS = '/sys/kernel/config/gpio-sim';
let made = 0;

class SimChip {
    constructor({ numLines = 8, lineNames = {} } = {}) {
        const id = `${process.pid}-${made++}`;
        this.dir = path.join(CONFIGFS, `chip-${id}`);
        this.label = `sim-${id}`;
        this.numLines = numLines;
        this.lineNames = lineNames;
        const bank = path.join(this.dir, 'bank0');
        fs.mkdirSync(this.dir);
        fs.mkdirSync(bank);
        fs.writeFileSync(path.join(bank, 'num_lines'), String(numLines));
        fs.writeFileSync(path.join(bank, 'label'), this.label);
        for (const [offset, name] of Object.entries(lineNames)) {
            fs.mkdirSync(path.join(bank, `line${offset}`));
            fs.writeFileSync(path.join(bank, `line${offset}`, 'name'), name);
        }
        fs.writeFileSync(path.join(this.dir, 'live'), '1');
        this.name = fs.readFileSync(path.join(bank, 'chip_name'), 'utf8').trim();
        this.devName = fs.readFileSync(path.join(this.dir, 'dev_name'), 'utf8').trim();
        this.number = Number(this.name.replace(/^gpiochip/, ''));
        this.path = `/dev/${this.name}`;
    }

    lineAttribute(offset, attribute) {
        return path.join('/sys/devices/platform', this.devName, this.name, `sim_gpio${offset}`, attribute);
    }

    // What an input line sees from outside: 'pull-up' or 'pull-down'.
    setPull(offset, pull) {
        fs.writeFileSync(this.lineAttribute(offset, 'pull'), pull);
    }

    // The level the line carries now, 0 or 1.
    value(offset) {
        return Number(fs.readFileSync(this.lineAttribute(offset, 'value'), 'utf8'));
    }

    remove() {
        fs.writeFileSync(path.join(this.dir, 'live'), '0');
        for (const offset of Object.keys(this.lineNames)) {
            fs.rmdirSync(path.join(this.dir, 'bank0', `line${offset}`));
        }
        fs.rmdirSync(path.join(this.dir, 'bank0'));
        fs.rmdirSync(this.dir);
    }
}

// The garbage collector, without needing --expose-gc on the command line of
// every test process the runner starts.
v8.setFlagsFromString('--expose-gc');
const gc = vm.runInNewContext('gc');

// Collects garbage until `condition()` holds; false if it never does. Weak
// callbacks may run a turn of the event loop after the collection itself.
async function collectUntil(condition) {
    for (let round = 0; round < 20; ++round) {
        gc();
        await new Promise((resolve) => setImmediate(resolve));
        if (condition()) {
            return true;
        }
    }
    return false;
}

// Twenty rounds of collection, each with a turn of the event loop.
const collectGarbage = () => collectUntil(() => false);

// One simulated chip for the tests of the calling describe(), made before the
// first and removed after the last. open() gives a test a fresh Chip of it; each
// test's chip is closed afterwards, so that a failing test leaves no line
// requested for the next one, and every line is pulled down again.
function useSimChip(options) {
    let sim;
    let chip;
    before(() => {
        sim = new SimChip(options);
    });
    after(() => sim.remove());
    afterEach(() => {
        chip?.close();
        for (let offset = 0; offset < sim.numLines; ++offset) {
            sim.setPull(offset, 'pull-down');
        }
    });
    return {
        get sim() {
            return sim;
        },
        get chip() {
            return chip;
        },
        open: () => (chip = new gpio.Chip(sim.name)),
    };
}

module.exports = { SimChip, useSimChip, collectGarbage, collectUntil, openFileCount };
