#include "support.h"

#include <gpiod.h>
#include <uv.h>

#include <cerrno>
#include <cmath>
#include <cstring>

namespace gpio {

const char *const DEFAULT_CONSUMER = "gpio-extension";

namespace {

void throwWithCode(v8::Local<v8::Value> error, const char *code)
{
    Nan::Set(error.As<v8::Object>(), Nan::New("code").ToLocalChecked(), Nan::New(code).ToLocalChecked());
    Nan::ThrowError(error);
}

} // namespace

void throwSystemError(int error, const std::string &what)
{
    // libgpiod sets errno on every failure it reports; should a path of it not,
    // the caller still gets a system error rather than a success.
    if (error <= 0)
        error = EIO;
    char name[64];
    uv_err_name_r(-error, name, sizeof name);
    const std::string message = what + ": " + std::strerror(error) + " (" + name + ")";
    v8::Local<v8::Object> exception = Nan::Error(message.c_str()).As<v8::Object>();
    Nan::Set(exception, Nan::New("errno").ToLocalChecked(), Nan::New(-error));
    throwWithCode(exception, name);
}

void throwArgumentTypeError(const std::string &message)
{
    throwWithCode(Nan::TypeError(message.c_str()), "ERR_INVALID_ARG_TYPE");
}

void throwArgumentValueError(const std::string &message)
{
    throwWithCode(Nan::TypeError(message.c_str()), "ERR_INVALID_ARG_VALUE");
}

void throwArgumentRangeError(const std::string &message)
{
    throwWithCode(Nan::RangeError(message.c_str()), "ERR_OUT_OF_RANGE");
}

bool checkReceiver(Nan::NAN_METHOD_ARGS_TYPE info, const Nan::Persistent<v8::FunctionTemplate> &owner)
{
    if (info.IsConstructCall()) {
        Nan::ThrowTypeError("a method or accessor of a GPIO object is not a constructor");
        return false;
    }
    // The signature makes V8 refuse foreign receivers of plain calls already;
    // checking again costs little and keeps Unwrap safe whatever V8 skips.
    if (!Nan::New(owner)->HasInstance(info.This())) {
        Nan::ThrowTypeError("Illegal invocation");
        return false;
    }
    return true;
}

v8::Local<v8::FunctionTemplate> classTemplate(const char *name, Nan::FunctionCallback construct,
                                              Nan::Persistent<v8::FunctionTemplate> &store)
{
    const v8::Local<v8::FunctionTemplate> tpl = Nan::New<v8::FunctionTemplate>(construct);
    tpl->SetClassName(Nan::New(name).ToLocalChecked());
    // The one field Nan::ObjectWrap keeps its native object in.
    tpl->InstanceTemplate()->SetInternalFieldCount(1);
    store.Reset(tpl);
    return tpl;
}

v8::Local<v8::FunctionTemplate> methodTemplate(Nan::FunctionCallback checked,
                                               const Nan::Persistent<v8::FunctionTemplate> &owner)
{
    const v8::Local<v8::FunctionTemplate> tpl = Nan::New(owner);
    return Nan::New<v8::FunctionTemplate>(checked, v8::Local<v8::Value>(), Nan::New<v8::Signature>(tpl));
}

bool readIndex(v8::Local<v8::Value> value, const char *name, unsigned int &index)
{
    if (!value->IsNumber()) {
        throwArgumentTypeError(std::string(name) + " must be a number");
        return false;
    }
    const double number = value.As<v8::Number>()->Value();
    if (!(number >= 0 && number <= 4294967295.0 && std::floor(number) == number)) {
        throwArgumentRangeError(std::string(name) + " must be an integer from 0 to 4294967295");
        return false;
    }
    index = static_cast<unsigned int>(number);
    return true;
}

bool readLineValue(v8::Local<v8::Value> value, int &lineValue)
{
    // Read straight from the checked value: a conversion through the current
    // context would cost as much as the write itself on a small CPU.
    if (value->IsInt32()) {
        const int32_t number = value.As<v8::Int32>()->Value();
        if (number == 0 || number == 1) {
            lineValue = number;
            return true;
        }
    }
    if (value->IsBoolean()) {
        lineValue = value.As<v8::Boolean>()->Value() ? 1 : 0;
        return true;
    }
    if (!value->IsNumber()) {
        throwArgumentTypeError("value must be 0, 1, false or true");
        return false;
    }
    const double number = value.As<v8::Number>()->Value();
    if (number != 0 && number != 1) {
        throwArgumentRangeError("value must be 0, 1, false or true");
        return false;
    }
    lineValue = number == 1 ? 1 : 0;
    return true;
}

bool readString(v8::Local<v8::Value> value, const char *name, std::string &text)
{
    if (!value->IsString()) {
        throwArgumentTypeError(std::string(name) + " must be a string");
        return false;
    }
    const Nan::Utf8String utf8(value);
    text.assign(*utf8, utf8.length());
    if (text.find('\0') != std::string::npos) {
        throwArgumentValueError(std::string(name) + " must not contain NUL characters");
        return false;
    }
    return true;
}

bool property(v8::Local<v8::Object> options, const char *key, v8::Local<v8::Value> &value)
{
    return Nan::Get(options, Nan::New(key).ToLocalChecked()).ToLocal(&value);
}

bool readChoice(v8::Local<v8::Object> options, const char *key, const NamedFlag *choices, size_t count, int &flag)
{
    v8::Local<v8::Value> value;
    if (!property(options, key, value))
        return false;
    if (value->IsUndefined())
        return true;
    std::string allowed;
    for (size_t i = 0; i < count; ++i)
        allowed += std::string(allowed.empty() ? "'" : ", '") + choices[i].name + "'";
    if (!value->IsString()) {
        throwArgumentTypeError(std::string("options.") + key + " must be one of " + allowed);
        return false;
    }
    const Nan::Utf8String text(value);
    for (size_t i = 0; i < count; ++i) {
        if (std::strcmp(*text, choices[i].name) == 0) {
            flag = choices[i].flag;
            return true;
        }
    }
    throwArgumentValueError(std::string("options.") + key + " must be one of " + allowed + ", not '" + *text + "'");
    return false;
}

bool readRequestOptions(v8::Local<v8::Value> value, Direction direction, RequestSettings &settings)
{
    settings = RequestSettings();
    if (value->IsUndefined())
        return true;
    if (value->IsString())
        return readString(value, "consumer", settings.consumer);
    if (!value->IsObject() || value->IsFunction() || value->IsArray()) {
        throwArgumentTypeError("options must be a consumer name or an options object");
        return false;
    }
    const v8::Local<v8::Object> options = value.As<v8::Object>();

    v8::Local<v8::Value> consumer;
    if (!property(options, "consumer", consumer))
        return false;
    if (!consumer->IsUndefined() && !readString(consumer, "options.consumer", settings.consumer))
        return false;

    v8::Local<v8::Value> activeLow;
    if (!property(options, "activeLow", activeLow))
        return false;
    if (!activeLow->IsUndefined()) {
        if (!activeLow->IsBoolean()) {
            throwArgumentTypeError("options.activeLow must be a boolean");
            return false;
        }
        if (Nan::To<bool>(activeLow).FromJust())
            settings.flags |= GPIOD_LINE_REQUEST_FLAG_ACTIVE_LOW;
    }

    static const NamedFlag biases[] = {
        {"as-is", 0},
        {"disable", GPIOD_LINE_REQUEST_FLAG_BIAS_DISABLE},
        {"pull-up", GPIOD_LINE_REQUEST_FLAG_BIAS_PULL_UP},
        {"pull-down", GPIOD_LINE_REQUEST_FLAG_BIAS_PULL_DOWN},
    };
    int bias = 0;
    if (!readChoice(options, "bias", biases, bias))
        return false;
    settings.flags |= bias;

    static const NamedFlag drives[] = {
        {"push-pull", 0},
        {"open-drain", GPIOD_LINE_REQUEST_FLAG_OPEN_DRAIN},
        {"open-source", GPIOD_LINE_REQUEST_FLAG_OPEN_SOURCE},
    };
    if (direction == Direction::Output) {
        int drive = 0;
        if (!readChoice(options, "drive", drives, drive))
            return false;
        settings.flags |= drive;
        return true;
    }

    // An input has no driver to configure; saying otherwise is a mistake in the
    // caller that silently ignoring it would hide.
    v8::Local<v8::Value> drive;
    if (!property(options, "drive", drive))
        return false;
    if (!drive->IsUndefined()) {
        throwArgumentValueError("options.drive applies to outputs only");
        return false;
    }
    return true;
}

} // namespace gpio
