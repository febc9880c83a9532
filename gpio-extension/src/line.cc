#include "line.h"

#include "chip.h"
#include "support.h"
#include "watcher.h"

#include <gpiod.h>

Nan::Persistent<v8::FunctionTemplate> Line::_template;
Nan::Persistent<v8::Function> Line::_constructor;

namespace {

void setText(v8::Local<v8::Object> object, const char *key, const char *text)
{
    if (text)
        Nan::Set(object, Nan::New(key).ToLocalChecked(), Nan::New(text).ToLocalChecked());
    else
        Nan::Set(object, Nan::New(key).ToLocalChecked(), Nan::Null());
}

const char *biasName(int bias)
{
    switch (bias) {
    case GPIOD_LINE_BIAS_DISABLE:
        return "disable";
    case GPIOD_LINE_BIAS_PULL_UP:
        return "pull-up";
    case GPIOD_LINE_BIAS_PULL_DOWN:
        return "pull-down";
    default:
        return "as-is";
    }
}

} // namespace

NAN_MODULE_INIT(Line::Init)
{
    const v8::Local<v8::FunctionTemplate> tpl = gpio::classTemplate("Line", New, _template);
    gpio::setGetter<_template, GetOffset>("offset");
    gpio::setGetter<_template, GetChip>("chip");
    gpio::setGetter<_template, GetRequested>("requested");
    gpio::setMethod<_template, Info>("info");
    gpio::setMethod<_template, RequestInput>("requestInput");
    gpio::setMethod<_template, RequestOutput>("requestOutput");
    gpio::setMethod<_template, GetValue>("getValue");
    gpio::setMethod<_template, SetValue>("setValue");
    gpio::setMethod<_template, Release>("release");
    gpio::setMethod<_template, RequestEvents>("requestEvents");
    gpio::setMethod<_template, Ref>("ref");
    gpio::setMethod<_template, Unref>("unref");

    const v8::Local<v8::Function> constructor = emitterClass(tpl, _constructor);
    Nan::Set(target, Nan::New("Line").ToLocalChecked(), constructor);
}

Nan::MaybeLocal<v8::Object> Line::create(v8::Local<v8::Object> chip, v8::Local<v8::Value> offset)
{
    v8::Local<v8::Value> argv[] = {chip, offset};
    return Nan::NewInstance(Nan::New(_constructor), 2, argv);
}

Line::Line(Chip *chip, v8::Local<v8::Object> chipObject, gpiod_line *line, unsigned int offset)
    : LineRequest(chip, chipObject, {line}, {offset}, false)
{
}

NAN_METHOD(Line::New)
{
    Chip *chip = constructorChip(info, "Line");
    unsigned int offset;
    if (!chip || !gpio::readIndex(info[1], "offset", offset) || !chip->checkOpen())
        return;
    gpiod_line *line = lineOf(chip, offset);
    if (!line)
        return;
    // Nothing can fail past this point: a Line object always has a usable
    // native half.
    (new Line(chip, info[0].As<v8::Object>(), line, offset))->Wrap(info.This());
    info.GetReturnValue().Set(info.This());
}

NAN_METHOD(Line::GetOffset)
{
    info.GetReturnValue().Set(Nan::New(Unwrap<Line>(info.This())->_offsets.front()));
}

NAN_METHOD(Line::Info)
{
    Line *self = Unwrap<Line>(info.This());
    if (!self->checkChipOpen())
        return;
    // libgpiod caches what it read when the line handle was made; another
    // process may have requested or released the line since.
    if (gpiod_line_update(self->line()) < 0) {
        self->throwFailure("cannot read the state of");
        return;
    }
    const v8::Local<v8::Object> result = Nan::New<v8::Object>();
    Nan::Set(result, Nan::New("offset").ToLocalChecked(), Nan::New(self->_offsets.front()));
    setText(result, "name", gpiod_line_name(self->line()));
    setText(result, "consumer", gpiod_line_consumer(self->line()));
    setText(result, "direction",
            gpiod_line_direction(self->line()) == GPIOD_LINE_DIRECTION_OUTPUT ? "output" : "input");
    Nan::Set(result, Nan::New("activeLow").ToLocalChecked(),
             Nan::New(gpiod_line_active_state(self->line()) == GPIOD_LINE_ACTIVE_STATE_LOW));
    Nan::Set(result, Nan::New("used").ToLocalChecked(), Nan::New(gpiod_line_is_used(self->line())));
    setText(result, "bias", biasName(gpiod_line_bias(self->line())));
    const char *drive = gpiod_line_is_open_drain(self->line())    ? "open-drain"
                        : gpiod_line_is_open_source(self->line()) ? "open-source"
                                                                  : "push-pull";
    setText(result, "drive", drive);
    info.GetReturnValue().Set(result);
}

NAN_METHOD(Line::RequestInput)
{
    Line *self = Unwrap<Line>(info.This());
    gpio::RequestSettings settings;
    if (!gpio::readRequestOptions(info[0], gpio::Direction::Input, settings) || !self->checkChipOpen())
        return;
    const int result = gpiod_line_request_input_flags(self->line(), settings.consumer.c_str(), settings.flags);
    self->takeRequest(result >= 0, "as input");
}

NAN_METHOD(Line::RequestOutput)
{
    Line *self = Unwrap<Line>(info.This());
    int value = 0;
    if (!info[0]->IsUndefined() && !gpio::readLineValue(info[0], value))
        return;
    gpio::RequestSettings settings;
    if (!gpio::readRequestOptions(info[1], gpio::Direction::Output, settings) || !self->checkChipOpen())
        return;
    const int result = gpiod_line_request_output_flags(self->line(), settings.consumer.c_str(), settings.flags, value);
    self->takeRequest(result >= 0, "as output");
}

NAN_METHOD(Line::GetValue)
{
    Line *self = Unwrap<Line>(info.This());
    if (!self->checkRequested())
        return;
    const int value = gpiod_line_get_value(self->line());
    if (value < 0) {
        self->throwFailure("cannot read");
        return;
    }
    info.GetReturnValue().Set(value);
}

NAN_METHOD(Line::SetValue)
{
    Line *self = Unwrap<Line>(info.This());
    int value;
    if (!gpio::readLineValue(info[0], value) || !self->checkRequested())
        return;
    if (gpiod_line_set_value(self->line(), value) < 0)
        self->throwFailure("cannot set");
}
