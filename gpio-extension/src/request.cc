#include "request.h"

#include "chip.h"
#include "support.h"
#include "watcher.h"

#include <gpiod.h>

#include <cerrno>

LineRequest::LineRequest(Chip *chip, v8::Local<v8::Object> chipObject, std::vector<gpiod_line *> lines,
                         std::vector<unsigned int> offsets, bool plural)
    : _chip(chip)
    , _chipObject(chipObject)
    , _lines(std::move(lines))
    , _offsets(std::move(offsets))
    , _plural(plural)
{
}

LineRequest::~LineRequest()
{
    stopWatching();
    releaseLines();
    _chipObject.Reset();
}

v8::Local<v8::Function> LineRequest::emitterClass(v8::Local<v8::FunctionTemplate> tpl,
                                                  Nan::Persistent<v8::Function> &store)
{
    const v8::Local<v8::Function> constructor = Nan::GetFunction(tpl).ToLocalChecked();
    gpio::inheritEventEmitter(constructor);
    store.Reset(constructor);
    return constructor;
}

Chip *LineRequest::constructorChip(Nan::NAN_METHOD_ARGS_TYPE info, const char *className)
{
    if (!info.IsConstructCall()) {
        gpio::throwArgumentTypeError(std::string("Class constructor ") + className
                                     + " cannot be invoked without 'new'");
        return nullptr;
    }
    if (!Chip::isChip(info[0])) {
        gpio::throwArgumentTypeError("chip must be a Chip object");
        return nullptr;
    }
    return Unwrap<Chip>(info[0].As<v8::Object>());
}

gpiod_line *LineRequest::lineOf(Chip *chip, unsigned int offset)
{
    gpiod_line *line = gpiod_chip_get_line(chip->handle(), offset);
    if (!line) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot get line " + std::to_string(offset) + " of " + chip->name());
    }
    return line;
}

std::string LineRequest::describe() const
{
    std::string list;
    for (unsigned int offset : _offsets)
        list += (list.empty() ? "" : ", ") + std::to_string(offset);
    return (_plural ? "lines " : "line ") + list + " of " + _chip->name();
}

bool LineRequest::checkChipOpen() const
{
    if (_chip->handle())
        return true;
    gpio::throwSystemError(EBADF, "cannot use " + describe() + ": the chip is closed");
    return false;
}

bool LineRequest::checkRequested() const
{
    if (!checkChipOpen())
        return false;
    if (_requested)
        return true;
    gpio::throwSystemError(EPERM, describe() + (_plural ? " are" : " is") + " not requested through this object");
    return false;
}

bool LineRequest::takeRequest(bool made, const char *purpose)
{
    if (!made) {
        throwFailure("cannot request", purpose);
        return false;
    }
    _requested = true;
    return true;
}

void LineRequest::throwFailure(const char *action, const char *detail) const
{
    // Before the message's allocations, which may change errno.
    const int error = errno;
    std::string what = action + (" " + describe());
    if (detail)
        what += std::string(" ") + detail;
    gpio::throwSystemError(error, what);
}

void LineRequest::stopWatching()
{
    if (_watcher)
        _watcher->dispose();
    _watcher = nullptr;
}

void LineRequest::releaseLines()
{
    if (_requested && _chip->handle()) {
        for (gpiod_line *line : _lines)
            gpiod_line_release(line);
    }
    _requested = false;
}

NAN_METHOD(LineRequest::GetChip)
{
    info.GetReturnValue().Set(Nan::New(Unwrap<LineRequest>(info.This())->_chipObject));
}

NAN_METHOD(LineRequest::GetRequested)
{
    // A chip's close releases its lines without telling the objects.
    const LineRequest *self = Unwrap<LineRequest>(info.This());
    info.GetReturnValue().Set(Nan::New(self->_requested && self->_chip->handle() != nullptr));
}

NAN_METHOD(LineRequest::RequestEvents)
{
    LineRequest *self = Unwrap<LineRequest>(info.This());
    gpio::EventSettings settings;
    if (!gpio::readEventOptions(info[0], settings) || !self->checkChipOpen() || !self->checkFree())
        return;
    if (!self->takeRequest(gpio::requestEventLines(self->_lines, settings), "for events"))
        return;
    self->stopWatching();
    self->_watcher = new gpio::EdgeWatcher(self, self->_chip, self->_lines, settings, self->_referenced);
    if (!self->_watcher->start()) {
        // Lines requested for events that nobody watches would only stay busy.
        const int error = errno;
        self->stopWatching();
        self->releaseLines();
        gpio::throwSystemError(error, "cannot watch the events of " + self->describe());
        return;
    }
    info.GetReturnValue().Set(info.This());
}

NAN_METHOD(LineRequest::Release)
{
    // Releasing lines this object does not hold does nothing, so that cleanup
    // code may call release() whatever happened before.
    LineRequest *self = Unwrap<LineRequest>(info.This());
    self->stopWatching();
    self->releaseLines();
}

NAN_METHOD(LineRequest::Ref)
{
    setReferenced(info, true);
}

NAN_METHOD(LineRequest::Unref)
{
    setReferenced(info, false);
}

void LineRequest::setReferenced(Nan::NAN_METHOD_ARGS_TYPE info, bool referenced)
{
    LineRequest *self = Unwrap<LineRequest>(info.This());
    self->_referenced = referenced;
    if (self->_watcher)
        self->_watcher->setReferenced(referenced);
    info.GetReturnValue().Set(info.This());
}
