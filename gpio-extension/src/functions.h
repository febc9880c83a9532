// The module's three plain functions.
#pragma once

#include <nan.h>

// version(): the libgpiod version text, e.g. "1.6.3".
NAN_METHOD(version);
// getInstantLineValue(chip, offset[, options]): requests the line as input,
// reads it and releases it again.
NAN_METHOD(getInstantLineValue);
// setInstantLineValue(chip, offset, value[, options]): requests the line as an
// output driving `value` and releases it again.
NAN_METHOD(setInstantLineValue);
