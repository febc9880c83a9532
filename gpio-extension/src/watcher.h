// Edge events: requesting lines for them, and watching their file descriptors
// on Node's event loop to hand each event to JavaScript.
#pragma once

#include "support.h"

#include <nan.h>
#include <uv.h>

#include <cstdint>
#include <vector>

struct gpiod_line;
class Chip;

namespace gpio {

enum class Edge { Rising, Falling, Both };

struct EventSettings
{
    RequestSettings request;
    Edge edge = Edge::Both;
    // 0: every edge is reported as the kernel sees it.
    uint64_t debounceMs = 0;
};

// The options of an events request: those of an input plus `edge` ("rising",
// "falling" or "both", the default) and `debounce` (milliseconds, default 0).
bool readEventOptions(v8::Local<v8::Value> value, EventSettings &settings);

// Requests every line of `lines` for edge events, all or none: on failure the
// lines requested so far are released again and errno says why.
bool requestEventLines(const std::vector<gpiod_line *> &lines, const EventSettings &settings);

// Sets the prototype of `constructor`'s prototype to EventEmitter.prototype,
// so that its objects have on(), once(), off() and emit().
void inheritEventEmitter(v8::Local<v8::Function> constructor);

// Watches the event descriptors of lines requested for edge events. Each event
// is emitted on the owner's JavaScript object as 'edge' with
// { offset, edge, value, timestamp }; a kernel queue that filled up as
// 'overflow' with { offset }; a failed read as 'error', which ends watching.
//
// While it watches and is referenced, the watcher holds its owner's
// JavaScript object, as Node holds its own active handles: the listeners live
// on that object, and a program that keeps no variable of its own must not
// lose them to the garbage collector. Unreferenced, the object may be
// collected, and its owner then disposes of the watcher.
//
// A watcher is created with new and never deleted by its owner: stop() ends
// the delivery at once, even from inside a listener; dispose() also gives the
// owner's hold up, and the watcher frees itself once libuv has closed its
// handles. The chip stops its watchers when it is closed.
class EdgeWatcher
{
public:
    EdgeWatcher(Nan::ObjectWrap *owner, Chip *chip, const std::vector<gpiod_line *> &lines,
                const EventSettings &settings, bool referenced);

    // Starts watching; false with errno set, after which only stop() may be called.
    bool start();
    // Ends delivery; the lines stay requested. Safe to call more than once.
    void stop();
    // Stops, and the owner will not use this watcher again.
    void dispose();
    bool stopped() const { return _stopped; }
    void setReferenced(bool referenced);

private:
    struct Source;
    struct RawEvent
    {
        Source *source;
        uint64_t timestamp;
        int value;
    };

    ~EdgeWatcher();
    static void onReadable(uv_poll_t *handle, int status, int events);
    static void onSettled(uv_timer_t *handle);
    static void onClosed(uv_handle_t *handle);

    void readEvents();
    void fail(int error, Source *source);
    // Debouncing, by the edges' kernel times (CLOCK_MONOTONIC, as libuv's clock).
    void startSettling(Source &source);
    uint64_t debounceNs() const { return _settings.debounceMs * 1000000; }
    // Each returns false once a listener has stopped the watcher.
    bool debounce(const RawEvent &event);
    bool settle(Source &source, int level);
    bool emitEdge(const Source &source, int value, uint64_t timestamp);
    bool emit(const char *name, v8::Local<v8::Value> argument);
    void holdOwner(bool hold);

    Nan::ObjectWrap *_owner;
    Nan::Persistent<v8::Object> _ownerHold;
    Chip *_chip;
    EventSettings _settings;
    bool _referenced;
    bool _stopped = false;
    bool _disposed = false;
    int _openHandles = 0;
    std::vector<Source *> _sources;
};

} // namespace gpio
