'use strict';
// The module's side of the edge benchmark, the same as
// `gpio-bench-libgpiod events CHIP OFFSET`: watches both edges of the line
// until standard input ends, then prints the events' latencies from the
// kernel's timestamp to the listener.
//
//   node edge-receiver.js CHIP OFFSET
const { gpio } = require('/payload/test/module');

const [chipName, offsetText] = process.argv.slice(2);
const chip = new gpio.Chip(chipName);
const line = chip.getLine(Number(offsetText));
const latencies = [];
let overflows = 0;
line.requestEvents({ consumer: 'bench' })
    .on('edge', (event) => latencies.push(Number(process.hrtime.bigint() - event.timestamp)))
    .on('overflow', () => ++overflows);
process.stdout.write('ready\n');
process.stdin.resume();
process.stdin.on('end', () => {
    line.release();
    chip.close();
    process.stdout.write(`${JSON.stringify({ events: latencies.length, overflows, latencies })}\n`);
});
