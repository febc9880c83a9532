#include "line.h"

#include "chip.h"
#include "support.h"
#include "watcher.h"

#include <gpiod.h>

#include <cerrno>

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
    const v8::Local<v8::FunctionTemplate> tpl = Nan::New<v8::FunctionTemplate>(New);
    tpl->SetClassName(Nan::New("Line").ToLocalChecked());
    tpl->InstanceTemplate()->SetInternalFieldCount(1);

    _template.Reset(tpl);
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

    const v8::Local<v8::Function> constructor = Nan::GetFunction(tpl).ToLocalChecked();
    gpio::inheritEventEmitter(constructor);
    _constructor.Reset(constructor);
    Nan::Set(target, Nan::New("Line").ToLocalChecked(), constructor);
}

Nan::MaybeLocal<v8::Object> Line::create(v8::Local<v8::Object> chip, v8::Local<v8::Value> offset)
{
    v8::Local<v8::Value> argv[] = {chip, offset};
    return Nan::NewInstance(Nan::New(_constructor), 2, argv);
}

Line::Line(Chip *chip, v8::Local<v8::Object> chipObject, gpiod_line *line, unsigned int offset)
    : _chip(chip)
    , _chipObject(chipObject)
    , _line(line)
    , _offset(offset)
{
}

Line::~Line()
{
    // A line dropped without release() is released here, unless the chip's
    // close already did so and freed the handle.
    stopWatching();
    if (_requested && _chip->handle())
        gpiod_line_release(_line);
    _chipObject.Reset();
}

std::string Line::describe() const
{
    return "line " + std::to_string(_offset) + " of " + _chip->name();
}

void Line::stopWatching()
{
    if (_watcher)
        _watcher->dispose();
    _watcher = nullptr;
}

bool Line::checkChipOpen() const
{
    if (_chip->handle())
        return true;
    gpio::throwSystemError(EBADF, "cannot use " + describe() + ": the chip is closed");
    return false;
}

bool Line::checkRequested() const
{
    if (!checkChipOpen())
        return false;
    if (_requested)
        return true;
    gpio::throwSystemError(EPERM, describe() + " is not requested through this object");
    return false;
}

NAN_METHOD(Line::New)
{
    if (!info.IsConstructCall()) {
        gpio::throwArgumentTypeError("Class constructor Line cannot be invoked without 'new'");
        return;
    }
    if (!Chip::isChip(info[0])) {
        gpio::throwArgumentTypeError("chip must be a Chip object");
        return;
    }
    const v8::Local<v8::Object> chipObject = info[0].As<v8::Object>();
    Chip *chip = Unwrap<Chip>(chipObject);
    unsigned int offset;
    if (!gpio::readIndex(info[1], "offset", offset) || !chip->checkOpen())
        return;
    gpiod_line *line = gpiod_chip_get_line(chip->handle(), offset);
    if (!line) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot get line " + std::to_string(offset) + " of " + chip->name());
        return;
    }
    // Nothing can fail past this point: a Line object always has a usable
    // native half.
    (new Line(chip, chipObject, line, offset))->Wrap(info.This());
    info.GetReturnValue().Set(info.This());
}

NAN_METHOD(Line::GetOffset)
{
    info.GetReturnValue().Set(Nan::New(Unwrap<Line>(info.This())->_offset));
}

NAN_METHOD(Line::GetChip)
{
    info.GetReturnValue().Set(Nan::New(Unwrap<Line>(info.This())->_chipObject));
}

NAN_METHOD(Line::GetRequested)
{
    const Line *self = Unwrap<Line>(info.This());
    info.GetReturnValue().Set(Nan::New(self->_requested && self->_chip->handle() != nullptr));
}

NAN_METHOD(Line::Info)
{
    Line *self = Unwrap<Line>(info.This());
    if (!self->checkChipOpen())
        return;
    // libgpiod caches what it read when the line handle was made; another
    // process may have requested or released the line since.
    if (gpiod_line_update(self->_line) < 0) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot read the state of " + self->describe());
        return;
    }
    const v8::Local<v8::Object> result = Nan::New<v8::Object>();
    Nan::Set(result, Nan::New("offset").ToLocalChecked(), Nan::New(self->_offset));
    setText(result, "name", gpiod_line_name(self->_line));
    setText(result, "consumer", gpiod_line_consumer(self->_line));
    setText(result, "direction",
            gpiod_line_direction(self->_line) == GPIOD_LINE_DIRECTION_OUTPUT ? "output" : "input");
    Nan::Set(result, Nan::New("activeLow").ToLocalChecked(),
             Nan::New(gpiod_line_active_state(self->_line) == GPIOD_LINE_ACTIVE_STATE_LOW));
    Nan::Set(result, Nan::New("used").ToLocalChecked(), Nan::New(gpiod_line_is_used(self->_line)));
    setText(result, "bias", biasName(gpiod_line_bias(self->_line)));
    const char *drive = gpiod_line_is_open_drain(self->_line)    ? "open-drain"
                        : gpiod_line_is_open_source(self->_line) ? "open-source"
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
    if (gpiod_line_request_input_flags(self->_line, settings.consumer.c_str(), settings.flags) < 0) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot request " + self->describe() + " as input");
        return;
    }
    self->_requested = true;
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
    if (gpiod_line_request_output_flags(self->_line, settings.consumer.c_str(), settings.flags, value) < 0) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot request " + self->describe() + " as output");
        return;
    }
    self->_requested = true;
}

NAN_METHOD(Line::GetValue)
{
    Line *self = Unwrap<Line>(info.This());
    if (!self->checkRequested())
        return;
    const int value = gpiod_line_get_value(self->_line);
    if (value < 0) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot read " + self->describe());
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
    if (gpiod_line_set_value(self->_line, value) < 0) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot set " + self->describe());
    }
}

NAN_METHOD(Line::Release)
{
    // Releasing a line this object does not hold does nothing, so that cleanup
    // code may call release() whatever happened before.
    Line *self = Unwrap<Line>(info.This());
    self->stopWatching();
    if (self->_requested && self->_chip->handle())
        gpiod_line_release(self->_line);
    self->_requested = false;
}

NAN_METHOD(Line::RequestEvents)
{
    Line *self = Unwrap<Line>(info.This());
    gpio::EventSettings settings;
    if (!gpio::readEventOptions(info[0], settings) || !self->checkChipOpen())
        return;
    if (!gpio::requestEventLines({self->_line}, settings)) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot request " + self->describe() + " for events");
        return;
    }
    self->_requested = true;
    self->stopWatching();
    self->_watcher = new gpio::EdgeWatcher(self, self->_chip, {self->_line}, settings, self->_referenced);
    if (!self->_watcher->start()) {
        const int error = errno;
        self->stopWatching();
        gpiod_line_release(self->_line);
        self->_requested = false;
        gpio::throwSystemError(error, "cannot watch the events of " + self->describe());
        return;
    }
    info.GetReturnValue().Set(info.This());
}

NAN_METHOD(Line::Ref)
{
    Line *self = Unwrap<Line>(info.This());
    self->_referenced = true;
    if (self->_watcher)
        self->_watcher->setReferenced(true);
    info.GetReturnValue().Set(info.This());
}

NAN_METHOD(Line::Unref)
{
    Line *self = Unwrap<Line>(info.This());
    self->_referenced = false;
    if (self->_watcher)
        self->_watcher->setReferenced(false);
    info.GetReturnValue().Set(info.This());
}
