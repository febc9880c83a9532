// Shared pieces of the module's bindings: how failures reach JavaScript and how
// the arguments that several calls share are read.
#pragma once

#include <nan.h>

#include <string>

namespace gpio {

// The consumer name a request carries when the caller gives none; it is what
// "gpioinfo" shows next to the line.
extern const char *const DEFAULT_CONSUMER;

// Throws an Error for a failed system or libgpiod call: the message names what
// was attempted and the system's reason; `code` is the errno name ("EBUSY"),
// `errno` its negative value, as in Node's own system errors. Callers copy
// errno before they build `what`: the allocations may change it.
void throwSystemError(int error, const std::string &what);

// A TypeError for an argument of the wrong type (code ERR_INVALID_ARG_TYPE).
void throwArgumentTypeError(const std::string &message);
// A TypeError for an argument of the right type but an unusable value, such as
// an unknown bias name (code ERR_INVALID_ARG_VALUE).
void throwArgumentValueError(const std::string &message);
// A RangeError for a number outside what the argument allows (code ERR_OUT_OF_RANGE).
void throwArgumentRangeError(const std::string &message);

// Each reader returns false after throwing the matching exception, so that a
// binding can simply return.

// A line offset or chip number: an integer from 0 to 2^32 - 1.
bool readIndex(v8::Local<v8::Value> value, const char *name, unsigned int &index);
// A line value: 0, 1, false or true.
bool readLineValue(v8::Local<v8::Value> value, int &lineValue);
// A string without NUL characters (the C library would cut it short there).
bool readString(v8::Local<v8::Value> value, const char *name, std::string &text);

// Looks `key` up in `options`; false after throwing if the object's getter threw.
bool property(v8::Local<v8::Object> options, const char *key, v8::Local<v8::Value> &value);

// One of the names an option may take, and the value it stands for.
struct NamedFlag
{
    const char *name;
    int flag;
};

// Reads `options[key]`, whose value must be one of the names in `choices`, into
// `flag`; undefined leaves `flag` as it is. The messages list the names
// ("options.bias must be one of 'as-is', 'disable', …, not 'x'").
bool readChoice(v8::Local<v8::Object> options, const char *key, const NamedFlag *choices, size_t count, int &flag);

template <size_t N>
bool readChoice(v8::Local<v8::Object> options, const char *key, const NamedFlag (&choices)[N], int &flag)
{
    return readChoice(options, key, choices, N, flag);
}

// The template of a class whose objects each wrap one native object, stored in
// `store` for the receiver checks of setMethod() and setGetter() below.
v8::Local<v8::FunctionTemplate> classTemplate(const char *name, Nan::FunctionCallback construct,
                                              Nan::Persistent<v8::FunctionTemplate> &store);

// Methods and read-only accessors of the classes, added to the prototype of
// the class whose template `owner` holds. V8 checks the receiver of a plain
// call against the class through the method's signature, but not that of a
// construct call: `new chip.close()` would hand the method a fresh object that
// has no native half. Every method and accessor therefore goes through
// checkReceiver() first, which refuses both with a TypeError.
bool checkReceiver(Nan::NAN_METHOD_ARGS_TYPE info, const Nan::Persistent<v8::FunctionTemplate> &owner);

template <const Nan::Persistent<v8::FunctionTemplate> &owner, Nan::FunctionCallback callback>
NAN_METHOD(receiverChecked)
{
    if (checkReceiver(info, owner))
        callback(info);
}

v8::Local<v8::FunctionTemplate> methodTemplate(Nan::FunctionCallback checked,
                                               const Nan::Persistent<v8::FunctionTemplate> &owner);

template <const Nan::Persistent<v8::FunctionTemplate> &owner, Nan::FunctionCallback callback>
void setMethod(const char *name)
{
    Nan::SetPrototypeTemplate(Nan::New(owner), name, methodTemplate(receiverChecked<owner, callback>, owner));
}

template <const Nan::Persistent<v8::FunctionTemplate> &owner, Nan::FunctionCallback callback>
void setGetter(const char *name)
{
    Nan::New(owner)->PrototypeTemplate()->SetAccessorProperty(Nan::New(name).ToLocalChecked(),
                                                              methodTemplate(receiverChecked<owner, callback>, owner),
                                                              v8::Local<v8::FunctionTemplate>(), v8::ReadOnly);
}

// What a line request is made with: the consumer name and libgpiod's request flags.
struct RequestSettings
{
    std::string consumer = DEFAULT_CONSUMER;
    int flags = 0;
};

enum class Direction { Input, Output };

// The request options argument: undefined (defaults), a string (the consumer
// name) or an object with `consumer`, `activeLow` and `bias` (inputs) or
// `drive` (outputs).
bool readRequestOptions(v8::Local<v8::Value> value, Direction direction, RequestSettings &settings);

} // namespace gpio
