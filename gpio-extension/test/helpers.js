'use strict';
// Small pieces that the tests on this machine and those in the VM share.
const fs = require('node:fs');

// The descriptors this process has open: a leak shows as a count that grows.
const openFileCount = () => fs.readdirSync('/proc/self/fd').length;

// The methods and accessors (as [key, function] pairs) that `prototype`
// defines, the constructor left out.
function prototypeMembers(prototype) {
    return Object.entries(Object.getOwnPropertyDescriptors(prototype))
        .filter(([key]) => key !== 'constructor')
        .map(([key, descriptor]) => [key, descriptor.get ?? descriptor.value]);
}

module.exports = { openFileCount, prototypeMembers };
