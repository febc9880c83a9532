#include "chip.h"

#include "line.h"
#include "lines.h"
#include "support.h"
#include "watcher.h"

#include <gpiod.h>

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

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

// Whether `path` is a GPIO chip's character device, by what sysfs says about
// its device numbers, without opening it; sets errno when not. libgpiod 1.6
// opens a path read-write before it checks it, and opening a device has
// effects of its own: /dev/watchdog arms the hardware watchdog, which resets
// the panel when the file is closed without the magic character.
bool isGpioChipDevice(const std::string &path)
{
    struct stat status;
    if (stat(path.c_str(), &status) < 0)
        return false;
    // ENOTTY, as the first GPIO ioctl on any other file would give, and as
    // libgpiod's own check reports.
    if (!S_ISCHR(status.st_mode)) {
        errno = ENOTTY;
        return false;
    }
    const std::string subsystem = "/sys/dev/char/" + std::to_string(major(status.st_rdev)) + ":"
                                  + std::to_string(minor(status.st_rdev)) + "/subsystem";
    char target[256];
    const ssize_t length = readlink(subsystem.c_str(), target, sizeof target - 1);
    if (length <= 0) {
        // No such device in sysfs: not a chip either.
        errno = ENOTTY;
        return false;
    }
    target[length] = '\0';
    // A link such as "../../../bus/gpio".
    const char *slash = std::strrchr(target, '/');
    if (std::strcmp(slash ? slash + 1 : target, "gpio") == 0)
        return true;
    errno = ENOTTY;
    return false;
}

gpiod_chip *openPath(const std::string &path)
{
    return isGpioChipDevice(path) ? gpiod_chip_open(path.c_str()) : nullptr;
}

int isChipDeviceName(const struct dirent *entry)
{
    return std::strncmp(entry->d_name, "gpiochip", 8) == 0;
}

// The first chip, in the order of the device names, whose label is `label`.
// Without one errno is ENOENT, or the error of a chip that could not be
// opened (EACCES), which may have been the one.
gpiod_chip *openByLabel(const std::string &label)
{
    struct dirent **entries;
    const int count = scandir("/dev", &entries, isChipDeviceName, alphasort);
    if (count < 0)
        return nullptr;
    gpiod_chip *found = nullptr;
    int error = ENOENT;
    for (int i = 0; i < count; ++i) {
        if (!found) {
            gpiod_chip *chip = openPath(std::string("/dev/") + entries[i]->d_name);
            if (!chip && errno != ENOTTY && errno != ENOENT)
                error = errno;
            if (chip && label == gpiod_chip_label(chip))
                found = chip;
            else if (chip)
                gpiod_chip_close(chip);
        }
        std::free(entries[i]);
    }
    std::free(entries);
    if (!found)
        errno = error;
    return found;
}

} // namespace

NAN_MODULE_INIT(Chip::Init)
{
    const v8::Local<v8::FunctionTemplate> tpl = gpio::classTemplate("Chip", New, _template);
    gpio::setGetter<_template, GetName>("name");
    gpio::setGetter<_template, GetLabel>("label");
    gpio::setGetter<_template, GetNumLines>("numLines");
    gpio::setGetter<_template, GetClosed>("closed");
    gpio::setMethod<_template, GetLine>("getLine");
    gpio::setMethod<_template, GetLines>("getLines");
    gpio::setMethod<_template, FindLine>("findLine");
    gpio::setMethod<_template, Close>("close");

    Nan::Set(target, Nan::New("Chip").ToLocalChecked(), Nan::GetFunction(tpl).ToLocalChecked());
    // Reached through getLines() only: the exports stay as they are.
    Lines::Init();
}

gpiod_chip *Chip::open(v8::Local<v8::Value> id, std::string &description)
{
    gpiod_chip *chip = nullptr;
    if (id->IsNumber()) {
        unsigned int number;
        if (!gpio::readIndex(id, "chip", number))
            return nullptr;
        description = "gpiochip" + std::to_string(number);
        chip = openPath("/dev/" + description);
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
            chip = openPath(text);
        } else if (parseNumber(text, number)) {
            if (number <= 0xffffffffULL)
                chip = openPath("/dev/gpiochip" + std::to_string(number));
            else
                errno = ENOENT;
        } else {
            // Device names and labels do not overlap in practice ("gpiochip0"
            // against "pinctrl-bcm2835"); the name is tried first because it
            // needs no scan of every chip.
            chip = openPath("/dev/" + text);
            if (!chip && errno == ENOENT)
                chip = openByLabel(text);
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

void Chip::removeWatcher(gpio::EdgeWatcher *watcher)
{
    _watchers.erase(std::remove(_watchers.begin(), _watchers.end(), watcher), _watchers.end());
}

void Chip::close()
{
    // Events stop first: libuv must let go of the descriptors before they close.
    const std::vector<gpio::EdgeWatcher *> watchers = _watchers;
    for (gpio::EdgeWatcher *watcher : watchers)
        watcher->stop();
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

NAN_METHOD(Chip::GetLines)
{
    v8::Local<v8::Object> lines;
    if (Lines::create(info.This(), info[0]).ToLocal(&lines))
        info.GetReturnValue().Set(lines);
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
