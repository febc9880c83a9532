// `Lines`: several lines of one chip, requested, read and written together.
#pragma once

#include <nan.h>

#include <string>
#include <vector>

struct gpiod_line;
class Chip;
namespace gpio {
class EdgeWatcher;
}

class Lines : public Nan::ObjectWrap
{
public:
    // Makes the class; its constructor is reached through chip.getLines().
    static void Init();

    // A new `Lines` object for the offsets (an array) of the chip object
    // `chip`; empty after throwing a JavaScript exception.
    static Nan::MaybeLocal<v8::Object> create(v8::Local<v8::Object> chip, v8::Local<v8::Value> offsets);

private:
    Lines(Chip *chip, v8::Local<v8::Object> chipObject, std::vector<gpiod_line *> lines,
          std::vector<unsigned int> offsets);
    ~Lines() override;

    bool checkChipOpen() const;
    bool checkRequested() const;
    bool checkFree() const;
    std::string describe() const;
    void stopWatching();
    // Reads `values`: an array with one 0, 1, false or true per line.
    bool readValues(v8::Local<v8::Value> values, std::vector<int> &result) const;

    static NAN_METHOD(New);
    static NAN_METHOD(GetOffsets);
    static NAN_METHOD(GetChip);
    static NAN_METHOD(GetRequested);
    static NAN_METHOD(RequestInput);
    static NAN_METHOD(RequestOutput);
    static NAN_METHOD(RequestEvents);
    static NAN_METHOD(GetValues);
    static NAN_METHOD(SetValues);
    static NAN_METHOD(Release);
    static NAN_METHOD(Ref);
    static NAN_METHOD(Unref);

    static Nan::Persistent<v8::FunctionTemplate> _template;
    static Nan::Persistent<v8::Function> _constructor;

    // As with `Line`, the chip object lives as long as its lines.
    Chip *_chip;
    Nan::Persistent<v8::Object> _chipObject;
    std::vector<gpiod_line *> _lines;
    std::vector<unsigned int> _offsets;
    bool _requested = false;
    gpio::EdgeWatcher *_watcher = nullptr;
    bool _referenced = true;
};
