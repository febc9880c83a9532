// `Line`: one line of a chip, and its request by this process.
#pragma once

#include <nan.h>

struct gpiod_line;
class Chip;
namespace gpio {
class EdgeWatcher;
}

class Line : public Nan::ObjectWrap
{
public:
    // Adds the `Line` class to the module's exports.
    static NAN_MODULE_INIT(Init);

    // A new `Line` object for `offset` of the chip object `chip`; empty after
    // throwing a JavaScript exception.
    static Nan::MaybeLocal<v8::Object> create(v8::Local<v8::Object> chip, v8::Local<v8::Value> offset);

private:
    Line(Chip *chip, v8::Local<v8::Object> chipObject, gpiod_line *line, unsigned int offset);
    ~Line() override;

    // Throws and returns false unless the chip is open and this object holds
    // the line's request.
    bool checkRequested() const;
    bool checkChipOpen() const;
    std::string describe() const;
    // Ends event delivery, if any, before the line is released.
    void stopWatching();

    static NAN_METHOD(New);
    static NAN_METHOD(GetOffset);
    static NAN_METHOD(GetChip);
    static NAN_METHOD(GetRequested);
    static NAN_METHOD(Info);
    static NAN_METHOD(RequestInput);
    static NAN_METHOD(RequestOutput);
    static NAN_METHOD(GetValue);
    static NAN_METHOD(SetValue);
    static NAN_METHOD(Release);
    static NAN_METHOD(RequestEvents);
    static NAN_METHOD(Ref);
    static NAN_METHOD(Unref);

    static Nan::Persistent<v8::FunctionTemplate> _template;
    static Nan::Persistent<v8::Function> _constructor;

    // The chip object stays alive as long as any of its lines: libgpiod's line
    // handles live inside the chip handle.
    Chip *_chip;
    Nan::Persistent<v8::Object> _chipObject;
    gpiod_line *_line;
    unsigned int _offset;
    // Whether this object made the line's current request. Several `Line`
    // objects may stand for one line; only the one that requested it reads,
    // writes and releases it, and only its collection releases it.
    bool _requested = false;
    // Set while the line is requested for edge events through this object.
    gpio::EdgeWatcher *_watcher = nullptr;
    // Whether watching keeps Node's event loop running; kept across requests.
    bool _referenced = true;
};
