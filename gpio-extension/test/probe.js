'use strict';
// Tells whether a call opens a file. The file is a FIFO, and a reader that
// opened it without waiting for a writer is told of a hang-up once a writer
// has come and gone (an open for reading and writing counts as one), and of
// nothing before. Works for any path, device names included, without a device
// whose opening has effects.
const fs = require('node:fs');
const net = require('node:net');
const { execFileSync } = require('node:child_process');

const delay = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

function makeFifo(path) {
    execFileSync('mkfifo', [path]);
}

// Runs `call` and resolves to { opened, error }: whether it opened `fifo` and
// what it threw.
async function probeOpen(fifo, call) {
    const fd = fs.openSync(fifo, fs.constants.O_RDONLY | fs.constants.O_NONBLOCK);
    const reader = new net.Socket({ fd, readable: true, writable: false });
    const hungUp = new Promise((resolve) => reader.once('end', () => resolve(true)));
    reader.resume();
    let error;
    try {
        call();
    } catch (caught) {
        error = caught;
    }
    try {
        // The hang-up is queued in the kernel by the time the call returns.
        const opened = await Promise.race([hungUp, delay(300).then(() => false)]);
        if (!opened) {
            // The probe itself must notice an open, or its "no" means nothing.
            fs.closeSync(fs.openSync(fifo, 'r+'));
            const noticed = await Promise.race([hungUp, delay(10000).then(() => false)]);
            if (!noticed) {
                throw new Error(`the probe of ${fifo} does not notice opens`);
            }
        }
        return { opened, error };
    } finally {
        reader.destroy();
    }
}

module.exports = { makeFifo, probeOpen };
