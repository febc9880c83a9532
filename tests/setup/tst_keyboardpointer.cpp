// The keyboard pointer as the operator meets it: keys arrive through the
// application's window as real input does, and what is checked is what the
// widgets under the pointer do and where the arrow is drawn.

#include "kbdcursor.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStyle>
#include <QStyleFactory>
#include <QtTest>

#include <functional>
#include <memory>

namespace {

// Records the mouse, hover and context-menu input a widget gets.
class InputRecorder : public QWidget
{
public:
    struct Input
    {
        QEvent::Type type;
        QPoint pos;
        Qt::MouseButton button;
        Qt::MouseButtons buttons;
    };

    explicit InputRecorder(QWidget *parent)
        : QWidget(parent)
    {
    }

    QList<Input> inputs;
    int contextMenus = 0;

    QList<QEvent::Type> types() const
    {
        QList<QEvent::Type> result;
        for (const Input &input : inputs)
            result.append(input.type);
        return result;
    }

protected:
    bool event(QEvent *e) override
    {
        switch (e->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove: {
            auto *m = static_cast<QMouseEvent *>(e);
            inputs.append({e->type(), m->pos(), m->button(), m->buttons()});
            return true;
        }
        case QEvent::Enter:
        case QEvent::Leave:
            inputs.append({e->type(), QPoint(), Qt::NoButton, Qt::NoButton});
            break;
        default:
            break;
        }
        return QWidget::event(e);
    }

    void contextMenuEvent(QContextMenuEvent *) override { ++contextMenus; }
};

// Notes every posted input event and its receiver, so that a test can prove
// that nothing was delivered to an object after it died.
class DeliveryLog : public QObject
{
public:
    QList<const void *> receivers;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        switch (event->type()) {
        case QEvent::Enter:
        case QEvent::Leave:
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseMove:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
            // A new overlay may take the memory of a dead widget; overlays
            // are never sent input, so they are left out.
            if (!qobject_cast<CursorOverlay *>(watched))
                receivers.append(watched);
            break;
        default:
            break;
        }
        return false;
    }
};

// Every position the arrow takes, in global coordinates: one entry per move,
// so one per tick of the movement clock.
class MoveLog : public QObject
{
public:
    QList<QPoint> positions;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Move)
            positions.append(static_cast<QWidget *>(watched)->mapToGlobal(QPoint(0, 0)));
        return false;
    }
};

QList<CursorOverlay *> allOverlays()
{
    QList<CursorOverlay *> overlays;
    // A dialog is its parent window's child too: count each overlay once,
    // under its own window.
    for (QWidget *w : QApplication::topLevelWidgets()) {
        for (CursorOverlay *overlay : w->findChildren<CursorOverlay *>()) {
            if (overlay->window() == w)
                overlays.append(overlay);
        }
    }
    return overlays;
}

CursorOverlay *theOverlay()
{
    const QList<CursorOverlay *> overlays = allOverlays();
    return overlays.size() == 1 ? overlays.first() : nullptr;
}

QPoint pointer()
{
    CursorOverlay *overlay = theOverlay();
    return overlay ? overlay->mapToGlobal(QPoint(0, 0)) : QPoint(-1, -1);
}

bool pointerShown()
{
    CursorOverlay *overlay = theOverlay();
    return overlay && overlay->isVisible();
}

QRect globalRect(const QWidget *w)
{
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

// Keys go in where the platform puts them: at the focus window, from which Qt
// hands them to the focus widget.
void key(bool press, int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false)
{
    QWindow *window = QGuiApplication::focusWindow();
    if (!window && QApplication::activeWindow())
        window = QApplication::activeWindow()->windowHandle();
    QVERIFY2(window, "no window to type into");
    QTest::simulateEvent(window, press, code, modifiers, QString(), autoRepeat);
}

void press(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    key(true, code, modifiers);
}

void repeat(int code)
{
    key(true, code, Qt::NoModifier, true);
}

void release(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    key(false, code, modifiers);
}

void tap(int code, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    press(code, modifiers);
    release(code, modifiers);
}

// Lets the event loop run until the condition holds, in small slices so that a
// held arrow key can be let go within a tick or two of the goal.
bool runUntil(const std::function<bool()> &done, int timeoutMs = 5000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QTest::qWait(2);
    }
    return true;
}

// Steers the pointer onto a point as an operator would: hold an arrow until
// the pointer is near enough on that axis, let go, correct.
bool steerTo(const QPoint &goal, int tolerance)
{
    for (int attempt = 0; attempt < 12; ++attempt) {
        const QPoint now = pointer();
        const int dx = goal.x() - now.x();
        const int dy = goal.y() - now.y();
        if (qAbs(dx) <= tolerance && qAbs(dy) <= tolerance)
            return true;
        const bool horizontal = qAbs(dx) > tolerance;
        const int code = horizontal ? (dx > 0 ? Qt::Key_Right : Qt::Key_Left) : (dy > 0 ? Qt::Key_Down : Qt::Key_Up);
        press(code);
        runUntil([&] {
            const QPoint p = pointer();
            const int rest = horizontal ? goal.x() - p.x() : goal.y() - p.y();
            const int start = horizontal ? dx : dy;
            return qAbs(rest) <= tolerance || (rest > 0) != (start > 0);
        });
        release(code);
    }
    return false;
}

// The steps of the movement ramp, one per tick, from a fresh press.
QList<int> steps(const QList<QPoint> &positions, const QPoint &start, bool horizontal)
{
    QList<int> result;
    QPoint previous = start;
    for (const QPoint &p : positions) {
        result.append(horizontal ? qAbs(p.x() - previous.x()) : qAbs(p.y() - previous.y()));
        previous = p;
    }
    return result;
}

} // namespace

class TestKeyboardPointer : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void startsOffAtScreenCentre();
    void firstArrowOnlyTurnsPointerOn();
    void heldArrowFollowsRamp();
    void oppositeArrowsCancelWhileRampRises();
    void actionKeyClicksButtonUnderPointer_data();
    void actionKeyClicksButtonUnderPointer();
    void heldEnterKeepsAutoRepeatButtonStepping();
    void holdDragsHeldWidget();
    void escapeReleasesHoldBeforeTurningOff();
    void pageKeysScroll();
    void menuKeyOpensContextMenu();
    void pointerConfinedToModalDialog();
    void ctrlTabVisitsEligibleWindowsInOrder();
    void ctrlTabDoesNothingWithModalDialogOrSingleWindow();
    void arrowKeyWidgetsKeepTheirKeys_data();
    void arrowKeyWidgetsKeepTheirKeys();
    void focusOnArrowKeyWidgetStopsMovement();
    void hiddenWindowHandsOverlayToActiveWindow();
    void hoverLeavesNoTrail();
    void deletedWidgetsGetNothing_data();
    void deletedWidgetsGetNothing();

private:
    QWidget *newWindow(const QRect &geometry);
    InputRecorder *newHandleAtScreenCentre();

    KbdCursor *_cursor = nullptr;
    QList<QPointer<QWidget>> _windows;
};

void TestKeyboardPointer::init()
{
    _cursor = new KbdCursor(qApp);
    _cursor->install();
}

void TestKeyboardPointer::cleanup()
{
    delete _cursor;
    _cursor = nullptr;
    for (const QPointer<QWidget> &w : qAsConst(_windows))
        delete w.data();
    _windows.clear();
    QCoreApplication::sendPostedEvents();
}

QWidget *TestKeyboardPointer::newWindow(const QRect &geometry)
{
    auto *window = new QWidget;
    window->setGeometry(geometry);
    window->show();
    window->activateWindow();
    _windows.append(window);
    if (!QTest::qWaitForWindowActive(window))
        qWarning("window did not become active");
    return window;
}

// A 40 x 40 widget under the pointer's starting point, in a full-screen window.
InputRecorder *TestKeyboardPointer::newHandleAtScreenCentre()
{
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    auto *handle = new InputRecorder(window);
    handle->setGeometry(QRect(window->mapFromGlobal(centre) - QPoint(20, 20), QSize(40, 40)));
    handle->show();
    return handle;
}

void TestKeyboardPointer::startsOffAtScreenCentre()
{
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    newWindow(screen);
    QCOMPARE(allOverlays().size(), 0);

    tap(Qt::Key_F12);
    QVERIFY(pointerShown());
    QCOMPARE(pointer(), screen.center());
    QVERIFY(!theOverlay()->isDimmed());
    CursorOverlay *first = theOverlay();

    tap(Qt::Key_F12);
    QCOMPARE(allOverlays().size(), 1);
    QVERIFY(!pointerShown());

    // Off, arrows and Enter belong to the application again.
    tap(Qt::Key_Escape);
    QVERIFY(!pointerShown());

    tap(Qt::Key_F12);
    QCOMPARE(theOverlay(), first);
    QVERIFY(pointerShown());
    QCOMPARE(pointer(), screen.center());

    // Held F12 repeats are passed on and switch nothing.
    repeat(Qt::Key_F12);
    QVERIFY(pointerShown());
    tap(Qt::Key_Escape);
    QVERIFY(!pointerShown());
}

void TestKeyboardPointer::firstArrowOnlyTurnsPointerOn()
{
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    auto *edit = new QLineEdit(window);
    edit->setGeometry(10, 10, 200, 30);
    edit->setText("abcdef");
    edit->show();
    edit->setFocus();
    edit->setCursorPosition(3);
    QTRY_COMPARE(QApplication::focusWidget(), edit);

    // The line edit keeps its arrows while the pointer is off.
    tap(Qt::Key_Left);
    QCOMPARE(edit->cursorPosition(), 2);
    QVERIFY(!pointerShown());

    edit->clearFocus();
    QTRY_VERIFY(!QApplication::focusWidget());
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    press(Qt::Key_Right);
    QVERIFY(pointerShown());
    QCOMPARE(pointer(), centre);
    // A tick would have come by now had the press recorded a direction.
    QTest::qWait(100);
    release(Qt::Key_Right);
    QCOMPARE(pointer(), centre);
    QCOMPARE(edit->cursorPosition(), 2);
}

void TestKeyboardPointer::heldArrowFollowsRamp()
{
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    tap(Qt::Key_F12);
    // Park at the left edge so that the full ramp fits on the screen.
    press(Qt::Key_Left);
    QVERIFY(runUntil([&] { return pointer().x() == globalRect(window).left(); }));
    release(Qt::Key_Left);
    const QPoint start = pointer();

    MoveLog moves;
    theOverlay()->installEventFilter(&moves);
    press(Qt::Key_Right);
    // Auto-repeated presses while the key is held must neither add steps nor
    // restart the ramp.
    QVERIFY(runUntil([&] {
        if (moves.positions.size() % 5 == 4)
            repeat(Qt::Key_Right);
        return moves.positions.size() >= 40;
    }));
    release(Qt::Key_Right);
    const int afterRelease = moves.positions.size();
    QTest::qWait(100);
    QCOMPARE(moves.positions.size(), afterRelease);

    const QList<int> ramp = steps(moves.positions, start, true).mid(0, 40);
    const QList<int> expectedStart = {2, 3, 4, 4, 5, 6, 6, 7, 8, 9, 9, 10};
    QCOMPARE(ramp.mid(0, expectedStart.size()), expectedStart);
    // The accumulator holds 15.999... at the 20th tick, not 16.
    QCOMPARE(ramp.at(19), 15);
    QCOMPARE(ramp.at(33), 25);
    for (int tick = 35; tick <= 40; ++tick)
        QCOMPARE(ramp.at(tick - 1), 26);
    for (const QPoint &p : qAsConst(moves.positions))
        QCOMPARE(p.y(), start.y());

    // A fresh press starts the ramp again from the bottom.
    moves.positions.clear();
    const QPoint again = pointer();
    press(Qt::Key_Left);
    QVERIFY(runUntil([&] { return moves.positions.size() >= 3; }));
    release(Qt::Key_Left);
    QCOMPARE(steps(moves.positions, again, true).mid(0, 3), QList<int>({2, 3, 4}));
}

void TestKeyboardPointer::oppositeArrowsCancelWhileRampRises()
{
    newWindow(QGuiApplication::primaryScreen()->geometry());
    tap(Qt::Key_F12);
    const QPoint start = pointer();

    press(Qt::Key_Left);
    press(Qt::Key_Right);
    press(Qt::Key_Down);
    MoveLog moves;
    theOverlay()->installEventFilter(&moves);
    QVERIFY(runUntil([&] { return moves.positions.size() >= 12; }));
    for (const QPoint &p : qAsConst(moves.positions))
        QCOMPARE(p.x(), start.x());
    release(Qt::Key_Down);
    // Left and Right still held: the clock runs on, the speed keeps rising,
    // and nothing moves.
    const QPoint parked = pointer();
    QTest::qWait(200);
    QCOMPARE(pointer(), parked);

    const int before = moves.positions.size();
    release(Qt::Key_Left);
    QVERIFY(runUntil([&] { return moves.positions.size() >= before + 1; }));
    release(Qt::Key_Right);
    const int firstStep = moves.positions.at(before).x() - parked.x();
    QVERIFY2(firstStep > 10, qPrintable(QString("first step after letting go of Left: %1").arg(firstStep)));
}

void TestKeyboardPointer::actionKeyClicksButtonUnderPointer_data()
{
    QTest::addColumn<int>("code");
    QTest::newRow("Enter") << int(Qt::Key_Enter);
    QTest::newRow("Return") << int(Qt::Key_Return);
    QTest::newRow("Space") << int(Qt::Key_Space);
}

void TestKeyboardPointer::actionKeyClicksButtonUnderPointer()
{
    QFETCH(int, code);
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    auto *left = new QPushButton("left", window);
    left->setGeometry(100, 100, 120, 50);
    auto *right = new QPushButton("right", window);
    right->setGeometry(550, 400, 120, 50);
    left->show();
    right->show();
    QSignalSpy leftClicks(left, &QPushButton::clicked);
    QSignalSpy rightClicks(right, &QPushButton::clicked);

    tap(Qt::Key_F12);
    QVERIFY(steerTo(globalRect(right).center(), 20));
    tap(code);
    QTRY_COMPARE(rightClicks.count(), 1);
    QCOMPARE(leftClicks.count(), 0);

    QVERIFY(steerTo(globalRect(left).center(), 20));
    tap(code);
    QTRY_COMPARE(leftClicks.count(), 1);
    QCOMPARE(rightClicks.count(), 1);

    // Off, the key is the application's: nothing is clicked.
    tap(Qt::Key_F12);
    tap(code);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(leftClicks.count(), 1);
}

void TestKeyboardPointer::heldEnterKeepsAutoRepeatButtonStepping()
{
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    auto *plus = new QPushButton("+", window);
    plus->setGeometry(QRect(window->mapFromGlobal(centre) - QPoint(40, 30), QSize(80, 60)));
    plus->setAutoRepeat(true);
    plus->setAutoRepeatInterval(50);
    plus->show();
    QSignalSpy steps(plus, &QPushButton::clicked);

    tap(Qt::Key_F12);
    press(Qt::Key_Enter);
    QTRY_COMPARE(steps.count(), 1);
    repeat(Qt::Key_Enter);
    QTRY_VERIFY(plus->isDown());
    // The keyboard's own repeats go on arriving; they must not start a second
    // hold or a click.
    QVERIFY(runUntil([&] {
        repeat(Qt::Key_Enter);
        return steps.count() >= 6;
    }));
    QVERIFY(plus->isDown());

    release(Qt::Key_Enter);
    QTRY_VERIFY(!plus->isDown());
    const int stepped = steps.count();
    QTest::qWait(200);
    QCOMPARE(steps.count(), stepped);

    // A plain press afterwards is a single click again.
    tap(Qt::Key_Enter);
    QTRY_COMPARE(steps.count(), stepped + 1);
}

void TestKeyboardPointer::holdDragsHeldWidget()
{
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    InputRecorder *handle = newHandleAtScreenCentre();

    tap(Qt::Key_F12);
    press(Qt::Key_Space);
    repeat(Qt::Key_Space);
    QTRY_COMPARE(handle->types().count(QEvent::MouseButtonPress), 2);
    handle->inputs.clear();

    // Drag well past the widget's right edge: it keeps getting the moves.
    press(Qt::Key_Right);
    QVERIFY(runUntil([&] { return pointer().x() > centre.x() + 100; }));
    release(Qt::Key_Right);
    // A second action key during the hold does nothing.
    press(Qt::Key_Return);
    release(Qt::Key_Space);
    QTRY_VERIFY(handle->types().contains(QEvent::MouseButtonRelease));
    release(Qt::Key_Return);
    QCoreApplication::sendPostedEvents();

    const QList<InputRecorder::Input> inputs = handle->inputs;
    QVERIFY(inputs.size() >= 3);
    const InputRecorder::Input last = inputs.last();
    QCOMPARE(last.type, QEvent::MouseButtonRelease);
    QCOMPARE(last.button, Qt::LeftButton);
    QCOMPARE(handle->mapToGlobal(last.pos), pointer());
    for (int i = 0; i + 1 < inputs.size(); ++i) {
        QCOMPARE(inputs.at(i).type, QEvent::MouseMove);
        QCOMPARE(inputs.at(i).buttons, Qt::MouseButtons(Qt::LeftButton));
    }
    QVERIFY(inputs.at(inputs.size() - 2).pos.x() > handle->width());
    QCOMPARE(handle->types().count(QEvent::MouseButtonPress), 0);
    QCOMPARE(handle->types().count(QEvent::Enter), 0);
}

void TestKeyboardPointer::escapeReleasesHoldBeforeTurningOff()
{
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    InputRecorder *handle = newHandleAtScreenCentre();

    tap(Qt::Key_F12);
    press(Qt::Key_Down);
    QVERIFY(runUntil([&] { return pointer().y() > centre.y() + 5; }));
    release(Qt::Key_Down);
    QVERIFY(runUntil([&] { return handle->types().contains(QEvent::Enter); }));
    press(Qt::Key_Enter);
    repeat(Qt::Key_Enter);
    handle->inputs.clear();
    tap(Qt::Key_Escape);
    QTRY_COMPARE(handle->types(), QList<QEvent::Type>({QEvent::MouseButtonRelease, QEvent::Leave}));
    QVERIFY(!pointerShown());
    release(Qt::Key_Enter);
    QCoreApplication::sendPostedEvents();
    QCOMPARE(handle->inputs.size(), 2);
}

void TestKeyboardPointer::pageKeysScroll()
{
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    auto *list = new QListWidget(window);
    list->setFocusPolicy(Qt::NoFocus);
    list->setGeometry(200, 100, 400, 400);
    for (int i = 0; i < 300; ++i)
        list->addItem(QString("line %1").arg(i));
    list->show();
    QScrollBar *bar = list->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);

    tap(Qt::Key_F12);
    tap(Qt::Key_PageDown);
    QTRY_VERIFY(bar->value() > 0);
    const int oneNotch = bar->value();
    tap(Qt::Key_PageDown);
    QTRY_COMPARE(bar->value(), 2 * oneNotch);
    tap(Qt::Key_PageUp);
    QTRY_COMPARE(bar->value(), oneNotch);
    tap(Qt::Key_PageUp);
    QTRY_COMPARE(bar->value(), 0);
}

void TestKeyboardPointer::menuKeyOpensContextMenu()
{
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    auto *target = new InputRecorder(window);
    target->setGeometry(QRect(window->mapFromGlobal(centre) - QPoint(50, 50), QSize(100, 100)));
    target->show();
    auto *custom = new QWidget(window);
    custom->setContextMenuPolicy(Qt::CustomContextMenu);
    custom->setGeometry(QRect(window->mapFromGlobal(centre) + QPoint(100, -50), QSize(100, 100)));
    custom->show();
    QSignalSpy requested(custom, &QWidget::customContextMenuRequested);

    tap(Qt::Key_F12);
    tap(Qt::Key_Menu);
    QTRY_COMPARE(target->contextMenus, 1);
    QList<QEvent::Type> buttons;
    for (const InputRecorder::Input &input : qAsConst(target->inputs)) {
        if (input.type == QEvent::MouseButtonPress || input.type == QEvent::MouseButtonRelease) {
            QCOMPARE(input.button, Qt::RightButton);
            buttons.append(input.type);
        }
    }
    QCOMPARE(buttons, QList<QEvent::Type>({QEvent::MouseButtonPress, QEvent::MouseButtonRelease}));

    QVERIFY(steerTo(globalRect(custom).center(), 30));
    tap(Qt::Key_Menu);
    QTRY_COMPARE(requested.count(), 1);
    QCOMPARE(custom->mapToGlobal(requested.first().first().toPoint()), pointer());
    QCOMPARE(target->contextMenus, 1);
}

void TestKeyboardPointer::pointerConfinedToModalDialog()
{
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    tap(Qt::Key_F12);
    press(Qt::Key_Up);
    QVERIFY(runUntil([&] { return pointer().y() == globalRect(window).top(); }));
    release(Qt::Key_Up);

    QDialog dialog(window);
    dialog.setGeometry(250, 200, 300, 200);
    dialog.open();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    const QRect inside = globalRect(&dialog);
    // The overlay follows the dialog, and the pointer is brought into it.
    QTRY_VERIFY(theOverlay() && theOverlay()->window() == &dialog);
    QTRY_COMPARE(pointer(), inside.center());

    MoveLog moves;
    theOverlay()->installEventFilter(&moves);
    press(Qt::Key_Left);
    QVERIFY(runUntil([&] { return pointer().x() == inside.left(); }));
    press(Qt::Key_Up);
    QVERIFY(runUntil([&] { return pointer().y() == inside.top(); }));
    release(Qt::Key_Up);
    release(Qt::Key_Left);
    press(Qt::Key_Right);
    press(Qt::Key_Down);
    QVERIFY(runUntil([&] { return pointer() == inside.bottomRight(); }));
    // Pressing on against the corner moves and posts nothing.
    const int atCorner = moves.positions.size();
    QTest::qWait(100);
    QCOMPARE(moves.positions.size(), atCorner);
    release(Qt::Key_Right);
    release(Qt::Key_Down);
    for (const QPoint &p : qAsConst(moves.positions))
        QVERIFY2(inside.contains(p), qPrintable(QString("%1,%2 left the dialog").arg(p.x()).arg(p.y())));

    dialog.reject();
    // Back on the main window the pointer may roam the whole screen again.
    QTRY_VERIFY(theOverlay() && theOverlay()->window() == window);
    press(Qt::Key_Down);
    QVERIFY(runUntil([&] { return pointer().y() > inside.bottom() + 20; }));
    release(Qt::Key_Down);
}

void TestKeyboardPointer::ctrlTabVisitsEligibleWindowsInOrder()
{
    newWindow(QRect(0, 0, 300, 200));
    newWindow(QRect(400, 0, 300, 200));
    newWindow(QRect(0, 300, 300, 200));
    auto *tip = new QWidget(nullptr, Qt::ToolTip);
    tip->setGeometry(400, 300, 100, 50);
    tip->show();
    _windows.append(tip);
    auto *hidden = new QWidget;
    hidden->setGeometry(500, 400, 100, 50);
    _windows.append(hidden);

    tap(Qt::Key_F12);
    QSet<QWidget *> visited;
    for (int hop = 0; hop < 4; ++hop) {
        // The order is the application's list of windows at the moment of the
        // switch.
        QList<QWidget *> order;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w != tip)
                order.append(w);
        }
        QCOMPARE(order.size(), 3);
        QWidget *next = order.at((order.indexOf(theOverlay()->window()) + 1) % order.size());
        // Backtab goes the same, forward, way.
        tap(hop % 2 ? Qt::Key_Backtab : Qt::Key_Tab, Qt::ControlModifier);
        QTRY_COMPARE(QApplication::activeWindow(), next);
        QTRY_VERIFY(theOverlay() && theOverlay()->window() == next);
        QTRY_COMPARE(pointer(), globalRect(next).center());
        visited.insert(next);
    }
    QVERIFY(visited.size() >= 2);

    // Without Ctrl, Tab is the application's.
    QWidget *before = theOverlay()->window();
    tap(Qt::Key_Tab);
    QCOMPARE(theOverlay()->window(), before);
}

void TestKeyboardPointer::ctrlTabDoesNothingWithModalDialogOrSingleWindow()
{
    QWidget *only = newWindow(QRect(0, 0, 400, 300));
    tap(Qt::Key_F12);
    const QPoint start = pointer();
    tap(Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(theOverlay()->window(), only);
    QCOMPARE(pointer(), start);

    QWidget *second = newWindow(QRect(450, 0, 300, 300));
    QDialog dialog(second);
    dialog.setGeometry(500, 50, 200, 150);
    dialog.open();
    QVERIFY(QTest::qWaitForWindowActive(&dialog));
    QTRY_VERIFY(theOverlay() && theOverlay()->window() == &dialog);
    const QPoint inDialog = pointer();
    tap(Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(theOverlay()->window(), &dialog);
    QCOMPARE(pointer(), inDialog);
    QCOMPARE(QApplication::activeWindow(), &dialog);
}

void TestKeyboardPointer::arrowKeyWidgetsKeepTheirKeys_data()
{
    QTest::addColumn<bool>("spinBox");
    QTest::newRow("line edit") << false;
    QTest::newRow("spin box") << true;
}

void TestKeyboardPointer::arrowKeyWidgetsKeepTheirKeys()
{
    QFETCH(bool, spinBox);
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    auto *edit = new QLineEdit("abcdef", window);
    edit->setGeometry(10, 10, 200, 30);
    auto *spin = new QSpinBox(window);
    spin->setGeometry(10, 60, 100, 30);
    spin->setRange(0, 100);
    spin->setValue(50);
    edit->show();
    spin->show();
    QSignalSpy returns(edit, &QLineEdit::returnPressed);

    tap(Qt::Key_F12);
    const QPoint parked = pointer();
    QWidget *focused = spinBox ? static_cast<QWidget *>(spin) : edit;
    focused->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), focused);
    QVERIFY(theOverlay()->isDimmed());
    QVERIFY(pointerShown());

    if (spinBox) {
        tap(Qt::Key_Up);
        tap(Qt::Key_Up);
        QCOMPARE(spin->value(), 52);
        tap(Qt::Key_Down);
        QCOMPARE(spin->value(), 51);
        tap(Qt::Key_PageUp);
        QCOMPARE(spin->value(), 61);
    } else {
        edit->setCursorPosition(3);
        tap(Qt::Key_Left);
        QCOMPARE(edit->cursorPosition(), 2);
        tap(Qt::Key_Right);
        tap(Qt::Key_Right);
        QCOMPARE(edit->cursorPosition(), 4);
        tap(Qt::Key_Return);
        QCOMPARE(returns.count(), 1);
    }
    QCOMPARE(pointer(), parked);
    // Escape goes to the widget too: the pointer stays on, dimmed.
    tap(Qt::Key_Escape);
    QVERIFY(pointerShown());

    // F12 takes the arrows back without moving the focus.
    tap(Qt::Key_F12);
    QVERIFY(!theOverlay()->isDimmed());
    QCOMPARE(QApplication::focusWidget(), focused);
    press(Qt::Key_Down);
    QVERIFY(runUntil([&] { return pointer().y() > parked.y() + 10; }));
    release(Qt::Key_Down);
    QCOMPARE(spin->value(), spinBox ? 61 : 50);

    // Ctrl+arrow in pass-through moves the pointer at once; the look stays
    // dimmed until the focus changes.
    focused->clearFocus();
    focused->setFocus();
    QTRY_VERIFY(theOverlay()->isDimmed());
    const QPoint here = pointer();
    press(Qt::Key_Left, Qt::ControlModifier);
    QVERIFY(runUntil([&] { return pointer().x() < here.x() - 10; }));
    release(Qt::Key_Left, Qt::ControlModifier);
    QVERIFY(theOverlay()->isDimmed());
    tap(Qt::Key_Up);
    QCOMPARE(spin->value(), spinBox ? 61 : 50);
}

void TestKeyboardPointer::focusOnArrowKeyWidgetStopsMovement()
{
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    auto *spin = new QSpinBox(window);
    spin->setGeometry(10, 10, 100, 30);
    spin->show();

    tap(Qt::Key_F12);
    const QPoint start = pointer();
    press(Qt::Key_Right);
    QVERIFY(runUntil([&] { return pointer().x() > start.x() + 5; }));
    spin->setFocus();
    QTRY_VERIFY(theOverlay()->isDimmed());
    const QPoint stopped = pointer();
    QTest::qWait(100);
    QCOMPARE(pointer(), stopped);
    release(Qt::Key_Right);
    QCOMPARE(spin->value(), 0);
}

void TestKeyboardPointer::hiddenWindowHandsOverlayToActiveWindow()
{
    QWidget *big = newWindow(QRect(0, 0, 400, 400));
    QWidget *small = newWindow(QRect(500, 400, 200, 100));
    tap(Qt::Key_F12);
    QCOMPARE(theOverlay()->window(), small);
    QVERIFY(globalRect(small).contains(pointer()));

    small->hide();
    big->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(big));
    QTRY_VERIFY(theOverlay() && theOverlay()->window() == big);
    QTRY_COMPARE(pointer(), globalRect(big).center());
    QCOMPARE(allOverlays().size(), 1);
}

void TestKeyboardPointer::hoverLeavesNoTrail()
{
    // Fusion draws a hovered button lighter. Were only the strips under the
    // moving arrow repainted, the button would end up patched with both looks.
    QWidget *window = newWindow(QGuiApplication::primaryScreen()->geometry());
    std::unique_ptr<QStyle> fusion(QStyleFactory::create("Fusion"));
    QVERIFY(fusion);
    window->setStyle(fusion.get());
    const QPoint centre = QGuiApplication::primaryScreen()->geometry().center();
    auto *button = new QPushButton("-", window);
    button->setStyle(fusion.get());
    button->setGeometry(QRect(window->mapFromGlobal(centre) + QPoint(-150, -30), QSize(120, 60)));
    button->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QCoreApplication::processEvents();
    auto screenOf = [&] { return window->screen()->grabWindow(window->winId()).toImage().copy(button->geometry()); };
    const QImage untouched = screenOf();

    tap(Qt::Key_F12);
    press(Qt::Key_Left);
    QVERIFY(runUntil([&] { return pointer().x() < globalRect(button).left() - 30; }));
    release(Qt::Key_Left);
    press(Qt::Key_Down);
    QVERIFY(runUntil([&] { return pointer().y() > globalRect(button).bottom() + 40; }));
    release(Qt::Key_Down);
    tap(Qt::Key_F12);
    QVERIFY(!button->underMouse());
    QTRY_COMPARE(screenOf(), untouched);
}

void TestKeyboardPointer::deletedWidgetsGetNothing_data()
{
    QTest::addColumn<QString>("victim");
    // clang-format off
    QTest::newRow("hovered") << "hovered";
    QTest::newRow("held") << "held";
    QTest::newRow("overlay's window") << "window";
    // clang-format on
}

void TestKeyboardPointer::deletedWidgetsGetNothing()
{
    QFETCH(QString, victim);
    QWidget *window = newWindow(QRect(0, 0, 500, 600));
    QWidget *other = newWindow(QRect(550, 0, 250, 600));
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
    const QPoint centre = globalRect(window).center();
    auto *target = new InputRecorder(window);
    target->setGeometry(QRect(window->mapFromGlobal(centre) - QPoint(40, 40), QSize(80, 80)));
    target->show();

    tap(Qt::Key_F12);
    QCOMPARE(theOverlay()->window(), window);
    QVERIFY(steerTo(centre, 20));
    QVERIFY(runUntil([&] { return target->types().contains(QEvent::Enter); }));

    if (victim == "held") {
        press(Qt::Key_Enter);
        repeat(Qt::Key_Enter);
        QTRY_COMPARE(target->types().count(QEvent::MouseButtonPress), 2);
    }

    DeliveryLog log;
    qApp->installEventFilter(&log);
    const void *dead = victim == "window" ? static_cast<void *>(window) : static_cast<void *>(target);
    // Moves posted for the widget and not yet delivered die with it.
    press(Qt::Key_Down);
    if (victim == "window") {
        delete window;
        // As on the panel, the window that is left becomes the active one.
        other->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(other));
    } else {
        delete target;
    }
    QVERIFY(runUntil([&] { return pointer().y() > centre.y() + 60 || !theOverlay(); }));
    release(Qt::Key_Down);
    tap(Qt::Key_Enter);
    release(Qt::Key_Enter);
    tap(Qt::Key_PageDown);
    tap(Qt::Key_Menu);

    if (victim == "window") {
        // The pointer lives on in the window that is left.
        tap(Qt::Key_Tab, Qt::ControlModifier);
        QTRY_VERIFY(theOverlay() && theOverlay()->window() == other);
        QVERIFY(pointerShown());
        press(Qt::Key_Down);
        QVERIFY(runUntil([&] { return pointer().y() > globalRect(other).center().y() + 10; }));
        release(Qt::Key_Down);
    }
    tap(Qt::Key_Escape);
    QCoreApplication::sendPostedEvents();
    qApp->removeEventFilter(&log);
    QVERIFY(!log.receivers.contains(dead));
}

QTEST_MAIN(TestKeyboardPointer)
#include "tst_keyboardpointer.moc"
