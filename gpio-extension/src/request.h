// `LineRequest`: what `Line` (one line) and `Lines` (several lines requested
// together) share: the lines of one chip that a JavaScript object stands for,
// and that object's request of them.
#pragma once

#include <nan.h>

#include <string>
#include <vector>

struct gpiod_line;
class Chip;
namespace gpio {
class EdgeWatcher;
}

class LineRequest : public Nan::ObjectWrap
{
protected:
    // `plural` says how messages name the lines: "lines 3 of …" for a `Lines`
    // object even when it holds one line, "line 3 of …" for a `Line`.
    LineRequest(Chip *chip, v8::Local<v8::Object> chipObject, std::vector<gpiod_line *> lines,
                std::vector<unsigned int> offsets, bool plural);
    // A request dropped without release() is released here, unless the chip's
    // close already did so and freed the line handles.
    ~LineRequest() override;

    // The constructor function of the class made from `tpl`, its objects
    // EventEmitters (for the 'edge' events), kept in `store` for create().
    static v8::Local<v8::Function> emitterClass(v8::Local<v8::FunctionTemplate> tpl,
                                                Nan::Persistent<v8::Function> &store);
    // The chip argument of a constructor call: null after throwing unless this
    // is a construct call of class `className` with a Chip object first.
    static Chip *constructorChip(Nan::NAN_METHOD_ARGS_TYPE info, const char *className);
    // The line handle for `offset` of an open chip; null after throwing.
    static gpiod_line *lineOf(Chip *chip, unsigned int offset);

    // "line 3 of gpiochip0", "lines 3, 4 of gpiochip0": for messages.
    std::string describe() const;
    // Each throws and returns false unless the chip is still open (and this
    // object holds the request of its lines).
    bool checkChipOpen() const;
    bool checkRequested() const;
    bool holdsRequest() const { return _requested; }
    // Takes the outcome of a libgpiod request call that errno explains on
    // failure: the lines are this object's from now on, or false after
    // throwing "cannot request <lines> <purpose>".
    bool takeRequest(bool made, const char *purpose);
    // Throws the system error of a libgpiod call on these lines that has just
    // failed: "<action> <lines>[ <detail>]", with the reason errno gives.
    void throwFailure(const char *action, const char *detail = nullptr) const;
    // Throws and returns false if a new request must not be made now. A single
    // line leaves that to libgpiod, which refuses a held line with EBUSY.
    virtual bool checkFree() const { return true; }

    // Methods and accessors that both classes add to their own templates.
    static NAN_METHOD(GetChip);
    static NAN_METHOD(GetRequested);
    static NAN_METHOD(RequestEvents);
    static NAN_METHOD(Release);
    static NAN_METHOD(Ref);
    static NAN_METHOD(Unref);

    // The chip object stays alive as long as any of its lines: libgpiod's line
    // handles live inside the chip handle.
    Chip *_chip;
    Nan::Persistent<v8::Object> _chipObject;
    std::vector<gpiod_line *> _lines;
    std::vector<unsigned int> _offsets;

private:
    // Ends event delivery, if any, before the lines are released.
    void stopWatching();
    // Releases the lines if this object holds them and the chip is open.
    void releaseLines();
    static void setReferenced(Nan::NAN_METHOD_ARGS_TYPE info, bool referenced);

    const bool _plural;
    // Whether this object made the lines' current request. Several objects may
    // stand for one line; only the one that requested it reads, writes and
    // releases it, and only its collection releases it.
    bool _requested = false;
    // Set while the lines are requested for edge events through this object.
    gpio::EdgeWatcher *_watcher = nullptr;
    // Whether watching keeps Node's event loop running; kept across requests.
    bool _referenced = true;
};
