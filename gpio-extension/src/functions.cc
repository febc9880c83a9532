#include "functions.h"

#include "chip.h"
#include "support.h"

#include <gpiod.h>

#include <cerrno>
#include <memory>

namespace {

struct ChipCloser
{
    void operator()(gpiod_chip *chip) const { gpiod_chip_close(chip); }
};
// Closing the chip also releases the line requested through it, on every path
// out of a call.
using ChipHandle = std::unique_ptr<gpiod_chip, ChipCloser>;

// Checks the chip and offset arguments before anything is opened, so that a
// wrong call fails the same way whether or not the chip exists.
bool readLineAddress(v8::Local<v8::Value> chipId, v8::Local<v8::Value> offsetValue, unsigned int &offset)
{
    if (!(chipId->IsNumber() || chipId->IsString())) {
        gpio::throwArgumentTypeError("chip must be a number, a path, a name or a label");
        return false;
    }
    return gpio::readIndex(offsetValue, "offset", offset);
}

// Opens the chip and gets the line; null after throwing.
gpiod_line *openLine(v8::Local<v8::Value> chipId, unsigned int offset, ChipHandle &chip, std::string &description)
{
    std::string chipDescription;
    chip.reset(Chip::open(chipId, chipDescription));
    if (!chip)
        return nullptr;
    description = "line " + std::to_string(offset) + " of " + gpiod_chip_name(chip.get());
    gpiod_line *line = gpiod_chip_get_line(chip.get(), offset);
    if (!line) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot get " + description);
    }
    return line;
}

} // namespace

NAN_METHOD(version)
{
    info.GetReturnValue().Set(Nan::New(gpiod_version_string()).ToLocalChecked());
}

NAN_METHOD(getInstantLineValue)
{
    unsigned int offset;
    gpio::RequestSettings settings;
    if (!readLineAddress(info[0], info[1], offset)
        || !gpio::readRequestOptions(info[2], gpio::Direction::Input, settings))
        return;
    ChipHandle chip;
    std::string description;
    gpiod_line *line = openLine(info[0], offset, chip, description);
    if (!line)
        return;
    if (gpiod_line_request_input_flags(line, settings.consumer.c_str(), settings.flags) < 0) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot request " + description + " as input");
        return;
    }
    const int value = gpiod_line_get_value(line);
    if (value < 0) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot read " + description);
        return;
    }
    info.GetReturnValue().Set(value);
}

NAN_METHOD(setInstantLineValue)
{
    unsigned int offset;
    int value;
    gpio::RequestSettings settings;
    if (!readLineAddress(info[0], info[1], offset) || !gpio::readLineValue(info[2], value)
        || !gpio::readRequestOptions(info[3], gpio::Direction::Output, settings))
        return;
    ChipHandle chip;
    std::string description;
    gpiod_line *line = openLine(info[0], offset, chip, description);
    if (!line)
        return;
    // The request itself drives the value: the kernel sets an output line's
    // level as part of granting it.
    if (gpiod_line_request_output_flags(line, settings.consumer.c_str(), settings.flags, value) < 0) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot request " + description + " as output");
    }
}
