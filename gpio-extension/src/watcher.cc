#include "watcher.h"

#include "chip.h"

#include <gpiod.h>
#include <linux/gpio.h>
#include <node.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace gpio {

namespace {

// The kernel keeps at most this many events per line until they are read; it
// drops what comes while the queue is full.
constexpr size_t KERNEL_QUEUE = 16;
// Read in one go: more than the kernel can hold, so that a full queue shows.
constexpr size_t READ_BATCH = 64;
// A day: anything longer is a mistake, not a debounce time.
constexpr double MAX_DEBOUNCE_MS = 86400000;

// Internalized, as property names and the event names are: found in V8's
// string table rather than made anew for each event.
v8::Local<v8::String> text(const char *value)
{
    return v8::String::NewFromUtf8(v8::Isolate::GetCurrent(), value, v8::NewStringType::kInternalized).ToLocalChecked();
}

} // namespace

bool readEventOptions(v8::Local<v8::Value> value, EventSettings &settings)
{
    settings = EventSettings();
    if (!readRequestOptions(value, Direction::Input, settings.request))
        return false;
    if (!value->IsObject() || value->IsString())
        return true;
    const v8::Local<v8::Object> options = value.As<v8::Object>();

    static const NamedFlag edges[] = {
        {"rising", static_cast<int>(Edge::Rising)},
        {"falling", static_cast<int>(Edge::Falling)},
        {"both", static_cast<int>(Edge::Both)},
    };
    int edge = static_cast<int>(settings.edge);
    if (!readChoice(options, "edge", edges, edge))
        return false;
    settings.edge = static_cast<Edge>(edge);

    v8::Local<v8::Value> debounce;
    if (!property(options, "debounce", debounce))
        return false;
    if (!debounce->IsUndefined()) {
        if (!debounce->IsNumber()) {
            throwArgumentTypeError("options.debounce must be a number of milliseconds");
            return false;
        }
        const double ms = debounce.As<v8::Number>()->Value();
        if (!(ms >= 0 && ms <= MAX_DEBOUNCE_MS && ms == static_cast<double>(static_cast<uint64_t>(ms)))) {
            throwArgumentRangeError("options.debounce must be an integer from 0 to 86400000 (milliseconds)");
            return false;
        }
        settings.debounceMs = static_cast<uint64_t>(ms);
    }
    return true;
}

bool requestEventLines(const std::vector<gpiod_line *> &lines, const EventSettings &settings)
{
    // Debouncing follows the line's level, which needs both edges whatever
    // the caller wants reported.
    const Edge edge = settings.debounceMs > 0 ? Edge::Both : settings.edge;
    const char *consumer = settings.request.consumer.c_str();
    const int flags = settings.request.flags;
    for (size_t i = 0; i < lines.size(); ++i) {
        int result;
        switch (edge) {
        case Edge::Rising:
            result = gpiod_line_request_rising_edge_events_flags(lines[i], consumer, flags);
            break;
        case Edge::Falling:
            result = gpiod_line_request_falling_edge_events_flags(lines[i], consumer, flags);
            break;
        default:
            result = gpiod_line_request_both_edges_events_flags(lines[i], consumer, flags);
            break;
        }
        if (result < 0) {
            // The kernel requests event lines one by one: give back what this
            // call took, so that the request fails as a whole.
            const int error = errno;
            for (size_t j = 0; j < i; ++j)
                gpiod_line_release(lines[j]);
            errno = error;
            return false;
        }
    }
    return true;
}

void inheritEventEmitter(v8::Local<v8::Function> constructor)
{
    // Node's process object is an EventEmitter, and a native module has no
    // require(): EventEmitter.prototype is found on its prototype chain.
    v8::Local<v8::Context> context = Nan::GetCurrentContext();
    v8::Local<v8::Value> value;
    if (!Nan::Get(context->Global(), text("process")).ToLocal(&value) || !value->IsObject())
        return;
    for (v8::Local<v8::Value> object = value.As<v8::Object>()->GetPrototype(); object->IsObject();
         object = object.As<v8::Object>()->GetPrototype()) {
        const v8::Local<v8::Object> candidate = object.As<v8::Object>();
        v8::Local<v8::Value> owner;
        if (Nan::HasOwnProperty(candidate, text("emit")).FromMaybe(false)
            && Nan::HasOwnProperty(candidate, text("on")).FromMaybe(false)
            && Nan::Get(candidate, text("constructor")).ToLocal(&owner) && owner->IsFunction()
            && *Nan::Utf8String(owner.As<v8::Function>()->GetName()) == std::string("EventEmitter")) {
            v8::Local<v8::Value> prototype;
            if (Nan::Get(constructor, text("prototype")).ToLocal(&prototype) && prototype->IsObject())
                Nan::SetPrototype(prototype.As<v8::Object>(), candidate).FromMaybe(false);
            return;
        }
    }
}

struct EdgeWatcher::Source
{
    EdgeWatcher *watcher;
    gpiod_line *line;
    unsigned int offset;
    int fd = -1;
    uv_poll_t poll;
    uv_timer_t settle;
    bool pollOpen = false;
    bool settleOpen = false;
    // Debouncing: the level last reported and the one the last edge left,
    // which is still to be decided on while `unsettled`.
    int level = 0;
    int pending = 0;
    uint64_t pendingTimestamp = 0;
    bool unsettled = false;
};

EdgeWatcher::EdgeWatcher(Nan::ObjectWrap *owner, Chip *chip, const std::vector<gpiod_line *> &lines,
                         const EventSettings &settings, bool referenced)
    : _owner(owner)
    , _chip(chip)
    , _settings(settings)
    , _referenced(referenced)
{
    for (gpiod_line *line : lines) {
        Source *source = new Source();
        source->watcher = this;
        source->line = line;
        source->offset = gpiod_line_offset(line);
        _sources.push_back(source);
    }
}

EdgeWatcher::~EdgeWatcher()
{
    _ownerHold.Reset();
    for (Source *source : _sources)
        delete source;
}

bool EdgeWatcher::start()
{
    uv_loop_t *loop = Nan::GetCurrentEventLoop();
    _chip->addWatcher(this);
    for (Source *source : _sources) {
        source->fd = gpiod_line_event_get_fd(source->line);
        if (source->fd < 0)
            return false;
        if (_settings.debounceMs > 0) {
            const int level = gpiod_line_get_value(source->line);
            if (level < 0)
                return false;
            source->level = source->pending = level;
            uv_timer_init(loop, &source->settle);
            source->settle.data = source;
            source->settleOpen = true;
            ++_openHandles;
            if (!_referenced)
                uv_unref(reinterpret_cast<uv_handle_t *>(&source->settle));
        }
        // uv_poll_init makes the descriptor non-blocking, which the reads rely on.
        int result = uv_poll_init(loop, &source->poll, source->fd);
        if (result < 0) {
            errno = -result;
            return false;
        }
        source->poll.data = source;
        source->pollOpen = true;
        ++_openHandles;
        if (!_referenced)
            uv_unref(reinterpret_cast<uv_handle_t *>(&source->poll));
        result = uv_poll_start(&source->poll, UV_READABLE, onReadable);
        if (result < 0) {
            errno = -result;
            return false;
        }
    }
    holdOwner(_referenced);
    return true;
}

void EdgeWatcher::stop()
{
    if (_stopped)
        return;
    _stopped = true;
    holdOwner(false);
    _chip->removeWatcher(this);
    // The handles are closed before the lines' descriptors are: libuv must
    // not watch a descriptor number the process may reuse.
    for (Source *source : _sources) {
        if (source->settleOpen)
            uv_close(reinterpret_cast<uv_handle_t *>(&source->settle), onClosed);
        if (source->pollOpen)
            uv_close(reinterpret_cast<uv_handle_t *>(&source->poll), onClosed);
    }
}

void EdgeWatcher::dispose()
{
    stop();
    _disposed = true;
    if (_openHandles == 0)
        delete this;
}

void EdgeWatcher::setReferenced(bool referenced)
{
    _referenced = referenced;
    if (_stopped)
        return;
    holdOwner(referenced);
    const auto apply = [referenced](uv_handle_t *handle) {
        if (referenced)
            uv_ref(handle);
        else
            uv_unref(handle);
    };
    for (Source *source : _sources) {
        if (source->pollOpen)
            apply(reinterpret_cast<uv_handle_t *>(&source->poll));
        if (source->settleOpen)
            apply(reinterpret_cast<uv_handle_t *>(&source->settle));
    }
}

void EdgeWatcher::holdOwner(bool hold)
{
    if (hold)
        _ownerHold.Reset(_owner->handle());
    else
        _ownerHold.Reset();
}

void EdgeWatcher::onClosed(uv_handle_t *handle)
{
    EdgeWatcher *self = static_cast<Source *>(handle->data)->watcher;
    if (--self->_openHandles == 0 && self->_disposed)
        delete self;
}

void EdgeWatcher::onReadable(uv_poll_t *handle, int status, int)
{
    Source *source = static_cast<Source *>(handle->data);
    EdgeWatcher *self = source->watcher;
    if (self->_stopped)
        return;
    // libuv reports an error condition of the descriptor (a chip that went
    // away) as EBADF; reading says what it is, after the events still queued.
    self->readEvents();
    if (status < 0 && !self->_stopped) {
        Nan::HandleScope scope;
        self->fail(-status, source);
    }
}

void EdgeWatcher::readEvents()
{
    // Every line's queue is read, not only the one that woke us, so that
    // events of several lines reach JavaScript in the order they happened.
    std::vector<RawEvent> events;
    std::vector<Source *> overflowed;
    for (Source *source : _sources) {
        gpioevent_data buffer[READ_BATCH];
        for (;;) {
            const ssize_t bytes = read(source->fd, buffer, sizeof buffer);
            if (bytes < 0 && errno == EINTR)
                continue;
            if (bytes < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            if (bytes <= 0 || bytes % sizeof buffer[0] != 0) {
                const int error = bytes < 0 ? errno : EIO;
                Nan::HandleScope scope;
                fail(error, source);
                return;
            }
            const size_t count = bytes / sizeof buffer[0];
            for (size_t i = 0; i < count; ++i) {
                const int value = buffer[i].id == GPIOEVENT_EVENT_RISING_EDGE ? 1 : 0;
                events.push_back({source, buffer[i].timestamp, value});
            }
            if (count >= KERNEL_QUEUE && std::find(overflowed.begin(), overflowed.end(), source) == overflowed.end())
                overflowed.push_back(source);
            if (count < READ_BATCH)
                break;
        }
    }
    std::stable_sort(events.begin(), events.end(),
                     [](const RawEvent &a, const RawEvent &b) { return a.timestamp < b.timestamp; });

    Nan::HandleScope scope;
    for (const RawEvent &event : events) {
        const bool running
            = _settings.debounceMs == 0 ? emitEdge(*event.source, event.value, event.timestamp) : debounce(event);
        if (!running)
            return;
    }
    for (Source *source : _sources) {
        if (source->unsettled)
            startSettling(*source);
    }
    for (Source *source : overflowed) {
        const v8::Local<v8::Object> details = Nan::New<v8::Object>();
        Nan::Set(details, text("offset"), Nan::New(source->offset));
        if (!emit("overflow", details))
            return;
    }
}

bool EdgeWatcher::debounce(const RawEvent &event)
{
    // Edges wait in the kernel's queue while the event loop is busy, and
    // arrive together however far apart they came. Their kernel times tell
    // whether the level before this edge held for the debounce time; the time
    // they were read at does not.
    Source &source = *event.source;
    if (source.unsettled && event.timestamp - source.pendingTimestamp >= debounceNs()) {
        source.unsettled = false;
        if (!settle(source, source.pending))
            return false;
    }
    source.pending = event.value;
    source.pendingTimestamp = event.timestamp;
    source.unsettled = true;
    return true;
}

void EdgeWatcher::startSettling(Source &source)
{
    // The last edge of the batch: the timer runs for what remains of the
    // debounce time since the kernel saw it, which may be nothing. Counted
    // from the loop's own time, which the timer goes by: it may lag behind
    // the clock, never run ahead, so the timer does not fire early.
    const uint64_t now = uv_now(source.settle.loop) * 1000000;
    const uint64_t passed = now > source.pendingTimestamp ? now - source.pendingTimestamp : 0;
    const uint64_t remainingNs = passed < debounceNs() ? debounceNs() - passed : 0;
    uv_timer_start(&source.settle, onSettled, (remainingNs + 999999) / 1000000, 0);
}

bool EdgeWatcher::settle(Source &source, int level)
{
    if (level == source.level)
        return true;
    source.level = level;
    const Edge edge = _settings.edge;
    if ((level == 1 && edge == Edge::Falling) || (level == 0 && edge == Edge::Rising))
        return true;
    return emitEdge(source, level, source.pendingTimestamp);
}

void EdgeWatcher::onSettled(uv_timer_t *handle)
{
    Source *source = static_cast<Source *>(handle->data);
    EdgeWatcher *self = source->watcher;
    if (self->_stopped || !source->unsettled)
        return;
    // Timers run before the loop polls: after a busy spell, edges may wait in
    // the kernel's queue that came before the debounce time was up. They are
    // read first and decide by their kernel times; a newer edge on this line
    // starts its wait again.
    const uint64_t waitedFor = source->pendingTimestamp;
    Nan::HandleScope scope;
    self->readEvents();
    if (self->_stopped || !source->unsettled || source->pendingTimestamp != waitedFor)
        return;
    uv_timer_stop(&source->settle);
    source->unsettled = false;
    // The level now, as the line has kept it for the whole debounce time;
    // the last edge's level stands in should the read fail.
    const int now = gpiod_line_get_value(source->line);
    self->settle(*source, now < 0 ? source->pending : now);
}

bool EdgeWatcher::emitEdge(const Source &source, int value, uint64_t timestamp)
{
    const v8::Local<v8::Object> event = Nan::New<v8::Object>();
    Nan::Set(event, text("offset"), Nan::New(source.offset));
    Nan::Set(event, text("edge"), text(value ? "rising" : "falling"));
    Nan::Set(event, text("value"), Nan::New(value));
    Nan::Set(event, text("timestamp"), v8::BigInt::NewFromUnsigned(v8::Isolate::GetCurrent(), timestamp));
    return emit("edge", event);
}

bool EdgeWatcher::emit(const char *name, v8::Local<v8::Value> argument)
{
    v8::Isolate *isolate = v8::Isolate::GetCurrent();
    const v8::Local<v8::Object> object = _owner->handle();
    const v8::Local<v8::Context> context = object->GetCreationContextChecked();
    const v8::Context::Scope contextScope(context);
    v8::Local<v8::Value> argv[] = {text(name), argument};
    // Through MakeCallback, as Node's own handles do: the listeners' promise
    // jobs and nextTick callbacks run afterwards, and an exception a listener
    // throws becomes an uncaught exception.
    node::MakeCallback(isolate, object, "emit", 2, argv, node::async_context{0, 0});
    return !_stopped;
}

void EdgeWatcher::fail(int error, Source *source)
{
    // A line whose events cannot be read any more, e.g. because its chip
    // went away, is not watched on.
    const v8::Local<v8::Object> object = _owner->handle();
    const v8::Local<v8::Context> context = object->GetCreationContextChecked();
    const v8::Context::Scope contextScope(context);
    stop();
    Nan::TryCatch tryCatch;
    throwSystemError(error,
                     "cannot read the events of line " + std::to_string(source->offset) + " of " + _chip->name());
    const v8::Local<v8::Value> exception = tryCatch.Exception();
    tryCatch.Reset();
    emit("error", exception);
}

} // namespace gpio
