// The module's entry: its registration with the Node.js runtime and the names
// it puts on the exports object.
#include "chip.h"
#include "functions.h"
#include "line.h"

#include <nan.h>
#include <node.h>

// The runtime compares this number with its own and refuses the module on a
// mismatch, before any of our code runs; it must match the headers we build with.
static_assert(NODE_MODULE_VERSION == 127, "gpio-extension is built for Node.js 22 (module version 127)");

namespace {

// Sets exports[name] to a function calling `callback`, inside a handle scope of
// its own so that the temporaries of one property do not outlive it.
void exportFunction(v8::Local<v8::Object> exports, const char *name, Nan::FunctionCallback callback)
{
    Nan::HandleScope scope;
    const v8::Local<v8::String> key = Nan::New(name).ToLocalChecked();
    const v8::Local<v8::FunctionTemplate> tpl = Nan::New<v8::FunctionTemplate>(callback);
    // Named, so that stack traces and `fn.name` say which function it is.
    tpl->SetClassName(key);
    Nan::Set(exports, key, Nan::GetFunction(tpl).ToLocalChecked());
}

NAN_MODULE_INIT(InitAll)
{
    exportFunction(target, "version", version);
    exportFunction(target, "getInstantLineValue", getInstantLineValue);
    exportFunction(target, "setInstantLineValue", setInstantLineValue);
    Chip::Init(target);
    Line::Init(target);
}

// The record the runtime's loader picks up. The file name is the one the
// runtime reports for the module; it is fixed so that it does not depend on
// where the build runs.
node::node_module registration = {
    127,              // module ABI version
    0,                // flags
    nullptr,          // shared-object handle
    "../src/main.cc", // source file name
    // InitAll takes the exports object only; the runtime's extra arguments are
    // ignored, as with every Nan module.
    reinterpret_cast<node::addon_register_func>(reinterpret_cast<void (*)()>(InitAll)),
    nullptr,           // context-aware initialisation
    "NativeExtension", // module name
    nullptr,           // private data
    nullptr,           // runtime's list link
};

// Runs while the runtime dlopen()s the shared object; the runtime then calls
// InitAll with the exports object.
__attribute__((constructor)) void registerModule()
{
    node::node_module_register(&registration);
}

} // namespace
