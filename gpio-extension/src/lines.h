// `Lines`: several lines of one chip, requested, read and written together.
#pragma once

#include "request.h"

class Lines : public LineRequest
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

    bool checkFree() const override;
    // Reads `values`: an array with one 0, 1, false or true per line.
    bool readValues(v8::Local<v8::Value> values, std::vector<int> &result) const;

    static NAN_METHOD(New);
    static NAN_METHOD(GetOffsets);
    static NAN_METHOD(RequestInput);
    static NAN_METHOD(RequestOutput);
    static NAN_METHOD(GetValues);
    static NAN_METHOD(SetValues);

    static Nan::Persistent<v8::FunctionTemplate> _template;
    static Nan::Persistent<v8::Function> _constructor;
};
