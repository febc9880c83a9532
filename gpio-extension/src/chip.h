// `Chip`: one GPIO chip, held open through libgpiod.
#pragma once

#include <nan.h>

#include <string>
#include <vector>

struct gpiod_chip;
namespace gpio {
class EdgeWatcher;
}

class Chip : public Nan::ObjectWrap
{
public:
    // Adds the `Chip` class to the module's exports.
    static NAN_MODULE_INIT(Init);

    // Opens a chip the ways a user names one: a number (3 is /dev/gpiochip3), a
    // path ("/dev/gpiochip3"), a device name ("gpiochip3"), a label
    // ("pinctrl-bcm2835") or a number written as text ("3"). Returns null after
    // throwing a JavaScript exception. `description` says which chip was meant,
    // for messages.
    static gpiod_chip *open(v8::Local<v8::Value> id, std::string &description);

    // Whether `value` is a `Chip` object.
    static bool isChip(v8::Local<v8::Value> value);

    // Null once the chip is closed.
    gpiod_chip *handle() const { return _chip; }
    const std::string &name() const { return _name; }

    // Throws the error for a use of a closed chip if it is closed.
    bool checkOpen() const;

    // The watchers of lines requested through this chip: close() stops them
    // before the descriptors they watch are closed.
    void addWatcher(gpio::EdgeWatcher *watcher) { _watchers.push_back(watcher); }
    void removeWatcher(gpio::EdgeWatcher *watcher);

private:
    Chip() = default;
    ~Chip() override;
    void close();

    static NAN_METHOD(New);
    static NAN_METHOD(GetName);
    static NAN_METHOD(GetLabel);
    static NAN_METHOD(GetNumLines);
    static NAN_METHOD(GetClosed);
    static NAN_METHOD(GetLine);
    static NAN_METHOD(GetLines);
    static NAN_METHOD(FindLine);
    static NAN_METHOD(Close);

    static Nan::Persistent<v8::FunctionTemplate> _template;

    gpiod_chip *_chip = nullptr;
    // Kept from the open so that they stay readable after close().
    std::string _name;
    std::string _label;
    unsigned int _numLines = 0;
    std::vector<gpio::EdgeWatcher *> _watchers;
};
