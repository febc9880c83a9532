#include "lines.h"

#include "chip.h"
#include "support.h"
#include "watcher.h"

#include <gpiod.h>

#include <algorithm>
#include <cerrno>

Nan::Persistent<v8::FunctionTemplate> Lines::_template;
Nan::Persistent<v8::Function> Lines::_constructor;

namespace {

gpiod_line_bulk makeBulk(const std::vector<gpiod_line *> &lines)
{
    gpiod_line_bulk bulk;
    gpiod_line_bulk_init(&bulk);
    for (gpiod_line *line : lines)
        gpiod_line_bulk_add(&bulk, line);
    return bulk;
}

} // namespace

void Lines::Init()
{
    const v8::Local<v8::FunctionTemplate> tpl = gpio::classTemplate("Lines", New, _template);
    gpio::setGetter<_template, GetOffsets>("offsets");
    gpio::setGetter<_template, GetChip>("chip");
    gpio::setGetter<_template, GetRequested>("requested");
    gpio::setMethod<_template, RequestInput>("requestInput");
    gpio::setMethod<_template, RequestOutput>("requestOutput");
    gpio::setMethod<_template, RequestEvents>("requestEvents");
    gpio::setMethod<_template, GetValues>("getValues");
    gpio::setMethod<_template, SetValues>("setValues");
    gpio::setMethod<_template, Release>("release");
    gpio::setMethod<_template, Ref>("ref");
    gpio::setMethod<_template, Unref>("unref");

    emitterClass(tpl, _constructor);
}

Nan::MaybeLocal<v8::Object> Lines::create(v8::Local<v8::Object> chip, v8::Local<v8::Value> offsets)
{
    v8::Local<v8::Value> argv[] = {chip, offsets};
    return Nan::NewInstance(Nan::New(_constructor), 2, argv);
}

Lines::Lines(Chip *chip, v8::Local<v8::Object> chipObject, std::vector<gpiod_line *> lines,
             std::vector<unsigned int> offsets)
    : LineRequest(chip, chipObject, std::move(lines), std::move(offsets), true)
{
}

bool Lines::checkFree() const
{
    // As with a single line: asking again through the same object is a
    // request of lines that are held, by this object.
    if (!holdsRequest())
        return true;
    gpio::throwSystemError(EBUSY, "cannot request " + describe() + ": they are requested already");
    return false;
}

bool Lines::readValues(v8::Local<v8::Value> values, std::vector<int> &result) const
{
    if (!values->IsArray()) {
        gpio::throwArgumentTypeError("values must be an array of 0, 1, false or true");
        return false;
    }
    const v8::Local<v8::Array> array = values.As<v8::Array>();
    if (array->Length() != _lines.size()) {
        gpio::throwArgumentValueError("values must have one value per line (" + std::to_string(_lines.size()) + ")");
        return false;
    }
    result.assign(_lines.size(), 0);
    for (uint32_t i = 0; i < array->Length(); ++i) {
        v8::Local<v8::Value> value;
        if (!Nan::Get(array, i).ToLocal(&value) || !gpio::readLineValue(value, result[i]))
            return false;
    }
    return true;
}

NAN_METHOD(Lines::New)
{
    Chip *chip = constructorChip(info, "Lines");
    if (!chip)
        return;
    if (!info[1]->IsArray()) {
        gpio::throwArgumentTypeError("offsets must be an array of line offsets");
        return;
    }
    const v8::Local<v8::Array> array = info[1].As<v8::Array>();
    if (array->Length() == 0 || array->Length() > GPIOD_LINE_BULK_MAX_LINES) {
        gpio::throwArgumentRangeError("offsets must name from 1 to " + std::to_string(GPIOD_LINE_BULK_MAX_LINES)
                                      + " lines");
        return;
    }
    std::vector<unsigned int> offsets;
    for (uint32_t i = 0; i < array->Length(); ++i) {
        v8::Local<v8::Value> value;
        unsigned int offset;
        if (!Nan::Get(array, i).ToLocal(&value) || !gpio::readIndex(value, "offset", offset))
            return;
        if (std::find(offsets.begin(), offsets.end(), offset) != offsets.end()) {
            gpio::throwArgumentValueError("offsets must not name line " + std::to_string(offset) + " twice");
            return;
        }
        offsets.push_back(offset);
    }
    if (!chip->checkOpen())
        return;
    std::vector<gpiod_line *> lines;
    for (unsigned int offset : offsets) {
        gpiod_line *line = lineOf(chip, offset);
        if (!line)
            return;
        lines.push_back(line);
    }
    (new Lines(chip, info[0].As<v8::Object>(), std::move(lines), std::move(offsets)))->Wrap(info.This());
    info.GetReturnValue().Set(info.This());
}

NAN_METHOD(Lines::GetOffsets)
{
    const Lines *self = Unwrap<Lines>(info.This());
    const v8::Local<v8::Array> result = Nan::New<v8::Array>(self->_offsets.size());
    for (size_t i = 0; i < self->_offsets.size(); ++i)
        Nan::Set(result, i, Nan::New(self->_offsets[i]));
    info.GetReturnValue().Set(result);
}

NAN_METHOD(Lines::RequestInput)
{
    Lines *self = Unwrap<Lines>(info.This());
    gpio::RequestSettings settings;
    if (!gpio::readRequestOptions(info[0], gpio::Direction::Input, settings) || !self->checkChipOpen()
        || !self->checkFree())
        return;
    gpiod_line_bulk bulk = makeBulk(self->_lines);
    const int result = gpiod_line_request_bulk_input_flags(&bulk, settings.consumer.c_str(), settings.flags);
    self->takeRequest(result >= 0, "as inputs");
}

NAN_METHOD(Lines::RequestOutput)
{
    Lines *self = Unwrap<Lines>(info.This());
    std::vector<int> values(self->_lines.size(), 0);
    if (!info[0]->IsUndefined() && !self->readValues(info[0], values))
        return;
    gpio::RequestSettings settings;
    if (!gpio::readRequestOptions(info[1], gpio::Direction::Output, settings) || !self->checkChipOpen()
        || !self->checkFree())
        return;
    gpiod_line_bulk bulk = makeBulk(self->_lines);
    const int result
        = gpiod_line_request_bulk_output_flags(&bulk, settings.consumer.c_str(), settings.flags, values.data());
    self->takeRequest(result >= 0, "as outputs");
}

NAN_METHOD(Lines::GetValues)
{
    Lines *self = Unwrap<Lines>(info.This());
    if (!self->checkRequested())
        return;
    std::vector<int> values(self->_lines.size(), 0);
    gpiod_line_bulk bulk = makeBulk(self->_lines);
    if (gpiod_line_get_value_bulk(&bulk, values.data()) < 0) {
        self->throwFailure("cannot read");
        return;
    }
    const v8::Local<v8::Array> result = Nan::New<v8::Array>(values.size());
    for (size_t i = 0; i < values.size(); ++i)
        Nan::Set(result, i, Nan::New(values[i]));
    info.GetReturnValue().Set(result);
}

NAN_METHOD(Lines::SetValues)
{
    Lines *self = Unwrap<Lines>(info.This());
    std::vector<int> values;
    if (!self->readValues(info[0], values) || !self->checkRequested())
        return;
    gpiod_line_bulk bulk = makeBulk(self->_lines);
    if (gpiod_line_set_value_bulk(&bulk, values.data()) < 0)
        self->throwFailure("cannot set");
}
