'use strict';
// Run under Debian's Node.js 20 (module version 115): the runtime's loader
// must refuse the module built for module version 127 before any of its
// exports exist.
const { test } = require('node:test');
const assert = require('node:assert/strict');

const modulePath = process.env.GPIO_EXTENSION_PATH;

test('runs under a runtime of another module version', () => {
    assert.ok(modulePath, 'GPIO_EXTENSION_PATH must name the built module');
    assert.equal(process.versions.modules, '115');
});

test('loading fails with the runtime\'s version-mismatch error', () => {
    assert.throws(() => require(modulePath), (error) => {
        assert.equal(error.code, 'ERR_DLOPEN_FAILED');
        assert.match(error.message, /compiled against a different Node\.js version/);
        assert.match(error.message, /NODE_MODULE_VERSION 127\./);
        assert.match(error.message, /requires\s+NODE_MODULE_VERSION 115\./);
        return true;
    });
    // Nothing half-loaded is left behind for a second attempt to pick up.
    assert.throws(() => require(modulePath), { code: 'ERR_DLOPEN_FAILED' });
});
