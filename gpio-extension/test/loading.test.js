'use strict';
const { test } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { EventEmitter } = require('node:events');
const { Worker } = require('node:worker_threads');
const { gpio, modulePath } = require('./module');

test('runs under the Node.js 22 line the module is built for', () => {
    assert.equal(process.versions.modules, '127');
});

test('exports the three functions in order, then the classes', () => {
    assert.deepEqual(Object.keys(gpio), ['version', 'getInstantLineValue', 'setInstantLineValue', 'Chip', 'Line']);
    for (const name of ['version', 'getInstantLineValue', 'setInstantLineValue']) {
        assert.equal(typeof gpio[name], 'function', name);
        assert.equal(gpio[name].name, name);
    }
    assert.equal(gpio.Chip.name, 'Chip');
    assert.equal(gpio.Line.name, 'Line');
    assert.deepEqual(Object.getOwnPropertyNames(gpio.Chip.prototype).sort(),
        ['close', 'closed', 'constructor', 'findLine', 'getLine', 'getLines', 'label', 'name', 'numLines']);
    assert.deepEqual(Object.getOwnPropertyNames(gpio.Line.prototype).sort(),
        ['chip', 'constructor', 'getValue', 'info', 'offset', 'ref', 'release', 'requestEvents', 'requestInput',
            'requestOutput', 'requested', 'setValue', 'unref']);
});

test('lines and sets of lines are event emitters', () => {
    assert.ok(gpio.Line.prototype instanceof EventEmitter);
    assert.equal(typeof gpio.Line.prototype.on, 'function');
    assert.ok(!(gpio.Chip.prototype instanceof EventEmitter));
});

test('version() is the version of the libgpiod it runs with', () => {
    const installed = execFileSync('pkg-config', ['--modversion', 'libgpiod'], { encoding: 'utf8' }).trim();
    assert.equal(gpio.version(), installed);
    assert.match(gpio.version(), /^1\.\d+/);
});

test('loads by package name from an installed package directory', () => {
    // The layout the install rule makes: package.json's "main" is the module.
    const root = fs.mkdtempSync(path.join(os.tmpdir(), 'gpio-extension-'));
    try {
        const packageDir = path.join(root, 'node_modules', 'gpio-extension');
        fs.mkdirSync(packageDir, { recursive: true });
        for (const file of ['package.json', 'index.d.ts']) {
            fs.copyFileSync(path.join(__dirname, '..', file), path.join(packageDir, file));
        }
        fs.copyFileSync(modulePath, path.join(packageDir, 'gpio-extension.node'));
        const script = `console.log(JSON.stringify(Object.keys(require('gpio-extension'))))`;
        const keys = execFileSync(process.execPath, ['-e', script], { cwd: root, encoding: 'utf8' });
        assert.deepEqual(JSON.parse(keys), Object.keys(gpio));
    } finally {
        fs.rmSync(root, { recursive: true, force: true });
    }
});

test('a second JavaScript environment in the process is refused, not given shared state', async () => {
    // The module keeps its classes per process; a worker thread loading it
    // again must fail cleanly instead of reusing the main thread's handles.
    const worker = new Worker(
        `const { parentPort } = require('node:worker_threads');
         try { require(${JSON.stringify(modulePath)}); parentPort.postMessage('loaded'); }
         catch (error) { parentPort.postMessage(error.message); }`,
        { eval: true });
    const [message] = await new Promise((resolve, reject) => {
        worker.once('message', (m) => resolve([m]));
        worker.once('error', reject);
    });
    await new Promise((resolve) => worker.once('exit', resolve));
    assert.match(message, /did not self-register/);
    assert.equal(typeof gpio.version(), 'string');
});
