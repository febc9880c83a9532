#include "chip.h"

#include "line.h"
#include "support.h"

#include <gpiod.h>

#include <cerrno>

Nan::Persistent<v8::FunctionTemplate> Chip::_template;

namespace {

// Reads a chip number written as text; false if `text` is not all digits.
// Numbers too large for any chip read as one that does not exist.
bool parseNumber(const std::string &text, unsigned long long &number)
{
    number = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        if (number <= 0xffffffffULL)
            number = number * 10 + static_cast<unsigned>(c - '0');
    }
    return true;
}

} // namespace

NAN_MODULE_INIT(Chip::Init)
{
    const v8::Local<v8::FunctionTemplate> tpl = Nan::New<v8::FunctionTemplate>(New);
    tpl->SetClassName(Nan::New("Chip").ToLocalChecked());
    tpl->InstanceTemplate()->SetInternalFieldCount(1);

    _template.Reset(tpl);
    gpio::setGetter<_template, GetName>("name");
    gpio::setGetter<_template, GetLabel>("label");
    gpio::setGetter<_template, GetNumLines>("numLines");
    gpio::setGetter<_template, GetClosed>("closed");
    gpio::setMethod<_template, GetLine>("getLine");
    gpio::setMethod<_template, FindLine>("findLine");
    gpio::setMethod<_template, Close>("close");

    Nan::Set(target, Nan::New("Chip").ToLocalChecked(), Nan::GetFunction(tpl).ToLocalChecked());
}

gpiod_chip *Chip::open(v8::Local<v8::Value> id, std::string &description)
{
    gpiod_chip *chip = nullptr;
    if (id->IsNumber()) {
        unsigned int number;
        if (!gpio::readIndex(id, "chip", number))
            return nullptr;
        description = "gpiochip" + std::to_string(number);
        chip = gpiod_chip_open_by_number(number);
    } else if (id->IsString()) {
        std::string text;
        if (!gpio::readString(id, "chip", text))
            return nullptr;
        if (text.empty()) {
            gpio::throwArgumentValueError("chip must not be an empty string");
            return nullptr;
        }
        description = "'" + text + "'";
        unsigned long long number;
        if (text.find('/') != std::string::npos) {
            chip = gpiod_chip_open(text.c_str());
        } else if (parseNumber(text, number)) {
            if (number <= 0xffffffffULL)
                chip = gpiod_chip_open_by_number(static_cast<unsigned int>(number));
            else
                errno = ENOENT;
        } else {
            // Device names and labels do not overlap in practice ("gpiochip0"
            // against "pinctrl-bcm2835"); the name is tried first because it
            // needs no scan of every chip.
            chip = gpiod_chip_open_by_name(text.c_str());
            if (!chip && errno == ENOENT)
                chip = gpiod_chip_open_by_label(text.c_str());
        }
    } else {
        gpio::throwArgumentTypeError("chip must be a number, a path, a name or a label");
        return nullptr;
    }
    if (!chip) {
        const int error = errno;
        gpio::throwSystemError(error, "cannot open GPIO chip " + description);
    }
    return chip;
}

bool Chip::isChip(v8::Local<v8::Value> value)
{
    return Nan::New(_template)->HasInstance(value);
}

bool Chip::checkOpen() const
{
    if (_chip)
        return true;
    gpio::throwSystemError(EBADF, "GPIO chip " + _name + " is closed");
    return false;
}

Chip::~Chip()
{
    close();
}

void Chip::close()
{
    // Closing the handle releases every line requested through it.
    if (_chip)
        gpiod_chip_close(_chip);
    _chip = nullptr;
}

NAN_METHOD(Chip::New)
{
    if (!info.IsConstructCall()) {
        gpio::throwArgumentTypeError("Class constructor Chip cannot be invoked without 'new'");
        return;
    }
    // Wrapped before anything can fail, so that every Chip object carries its
    // native half, open or not.
    Chip *self = new Chip();
    self->Wrap(info.This());

    std::string description;
    self->_chip = open(info[0], description);
    if (!self->_chip)
        return;
    self->_name = gpiod_chip_name(self->_chip);
    self->_label = gpiod_chip_label(self->_chip);
    self->_numLines = gpiod_chip_num_lines(self->_chip);
    info.GetReturnValue().Set(info.This());
}

NAN_METHOD(Chip::GetName)
{
    info.GetReturnValue().Set(Nan::New(Unwrap<Chip>(info.This())->_name).ToLocalChecked());
}

NAN_METHOD(Chip::GetLabel)
{
    info.GetReturnValue().Set(Nan::New(Unwrap<Chip>(info.This())->_label).ToLocalChecked());
}

NAN_METHOD(Chip::GetNumLines)
{
    info.GetReturnValue().Set(Nan::New(Unwrap<Chip>(info.This())->_numLines));
}

NAN_METHOD(Chip::GetClosed)
{
    info.GetReturnValue().Set(Nan::New(Unwrap<Chip>(info.This())->_chip == nullptr));
}

NAN_METHOD(Chip::GetLine)
{
    v8::Local<v8::Object> line;
    if (Line::create(info.This(), info[0]).ToLocal(&line))
        info.GetReturnValue().Set(line);
}

NAN_METHOD(Chip::FindLine)
{
    Chip *self = Unwrap<Chip>(info.This());
    std::string name;
    if (!gpio::readString(info[0], "name", name) || !self->checkOpen())
        return;
    gpiod_line *found = gpiod_chip_find_line(self->_chip, name.c_str());
    if (!found) {
        const int error = errno;
        if (error == ENOENT)
            info.GetReturnValue().SetNull();
        else
            gpio::throwSystemError(error, "cannot look for line '" + name + "' on " + self->_name);
        return;
    }
    v8::Local<v8::Object> line;
    if (Line::create(info.This(), Nan::New(gpiod_line_offset(found))).ToLocal(&line))
        info.GetReturnValue().Set(line);
}

NAN_METHOD(Chip::Close)
{
    Unwrap<Chip>(info.This())->close();
}
