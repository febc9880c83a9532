// `Line`: one line of a chip, and its request by this process.
#pragma once

#include "request.h"

class Line : public LineRequest
{
public:
    // Adds the `Line` class to the module's exports.
    static NAN_MODULE_INIT(Init);

    // A new `Line` object for `offset` of the chip object `chip`; empty after
    // throwing a JavaScript exception.
    static Nan::MaybeLocal<v8::Object> create(v8::Local<v8::Object> chip, v8::Local<v8::Value> offset);

private:
    Line(Chip *chip, v8::Local<v8::Object> chipObject, gpiod_line *line, unsigned int offset);

    gpiod_line *line() const { return _lines.front(); }

    static NAN_METHOD(New);
    static NAN_METHOD(GetOffset);
    static NAN_METHOD(Info);
    static NAN_METHOD(RequestInput);
    static NAN_METHOD(RequestOutput);
    static NAN_METHOD(GetValue);
    static NAN_METHOD(SetValue);

    static Nan::Persistent<v8::FunctionTemplate> _template;
    static Nan::Persistent<v8::Function> _constructor;
};
