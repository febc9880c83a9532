'use strict';
// The module under test: the build names it in GPIO_EXTENSION_PATH, both on
// this machine and inside the test VM.
const modulePath = process.env.GPIO_EXTENSION_PATH;
if (!modulePath) {
    throw new Error('GPIO_EXTENSION_PATH must name the built gpio-extension.node');
}

module.exports = { gpio: require(modulePath), modulePath };
