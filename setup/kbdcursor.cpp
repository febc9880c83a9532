#include "kbdcursor.h"

#include <QAbstractItemView>
#include <QAbstractSlider>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QImage>
#include <QPainter>
#include <QtMath>
#include <QPen>
#include <QPlainTextEdit>
#include <QPolygon>
#include <QScreen>
#include <QTextEdit>
#include <QWheelEvent>

#include <algorithm>

namespace {

const int TICK_INTERVAL_MS = 16;
const double SPEED_START = 2.0;
const double SPEED_GAIN_PER_TICK = 0.7;
const double SPEED_MAX = 26.0;
const int WHEEL_NOTCH = 120;

enum Direction { DirLeft = 1, DirRight = 2, DirUp = 4, DirDown = 8 };

int directionOf(int key)
{
    switch (key) {
    case Qt::Key_Left:
        return DirLeft;
    case Qt::Key_Right:
        return DirRight;
    case Qt::Key_Up:
        return DirUp;
    case Qt::Key_Down:
        return DirDown;
    default:
        return 0;
    }
}

bool isActionKey(int key)
{
    return key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter;
}

// Windows the pointer may live in. Tool tips and splash screens share the
// ToolTip bits and are left out: the arrow must not land on a tip that vanishes
// under it.
bool isEligibleWindow(const QWidget *w)
{
    return w && w->isWindow() && w->isVisible() && !w->isHidden() && (w->windowFlags() & Qt::ToolTip) != Qt::ToolTip;
}

QList<QWidget *> eligibleWindows()
{
    QList<QWidget *> windows;
    const QWidgetList all = QApplication::topLevelWidgets();
    for (QWidget *w : all) {
        if (isEligibleWindow(w))
            windows.append(w);
    }
    return windows;
}

QRect globalRectOf(const QWidget *w)
{
    return QRect(w->mapToGlobal(QPoint(0, 0)), w->size());
}

} // namespace

// ---------------------------------------------------------------------------
// CursorOverlay
// ---------------------------------------------------------------------------

CursorOverlay::CursorOverlay(QWidget *parent)
    : QWidget(parent)
    , _dimmed(false)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setFocusPolicy(Qt::NoFocus);
    resize(20, 28);
}

void CursorOverlay::setDimmed(bool dimmed)
{
    if (dimmed == _dimmed)
        return;
    _dimmed = dimmed;
    update();
}

namespace {

void drawArrow(QPainter &painter, bool dimmed)
{
    // The tip sits one pixel right of and below the hotspot (the widget's
    // origin), so the 1.5 px outline is not clipped at the top-left.
    static const QPoint outline[]
        = {QPoint(1, 1), QPoint(1, 21), QPoint(6, 16), QPoint(9, 24), QPoint(13, 22), QPoint(10, 15), QPoint(16, 14)};

    const QColor penColour = dimmed ? QColor(0, 0, 0, 120) : QColor(0, 0, 0, 255);
    const QColor fillColour = dimmed ? QColor(200, 200, 200, 120) : QColor(255, 255, 255, 255);

    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(QBrush(penColour, Qt::SolidPattern), 1.5, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.setBrush(QBrush(fillColour, Qt::SolidPattern));
    painter.drawPolygon(outline, int(sizeof outline / sizeof outline[0]), Qt::OddEvenFill);
}

// Stroking an antialiased outline costs about a hundred thousand instructions,
// and the arrow is painted at every 16 ms step while an arrow key is held. It
// is drawn once per look and then only copied.
const QImage &arrowImage(bool dimmed, qreal devicePixelRatio)
{
    static QImage looks[2];
    QImage &image = looks[dimmed ? 1 : 0];
    if (image.isNull() || image.devicePixelRatio() != devicePixelRatio) {
        image = QImage(QSize(qCeil(20 * devicePixelRatio), qCeil(28 * devicePixelRatio)),
                       QImage::Format_ARGB32_Premultiplied);
        image.setDevicePixelRatio(devicePixelRatio);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        drawArrow(painter, dimmed);
    }
    return image;
}

} // namespace

void CursorOverlay::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), arrowImage(_dimmed, devicePixelRatioF()));
}

// ---------------------------------------------------------------------------
// KbdCursor
// ---------------------------------------------------------------------------

KbdCursor::KbdCursor(QObject *parent)
    : QObject(parent)
    , _active(false)
    , _passThrough(false)
    , _dirs(0)
    , _speed(SPEED_START)
    , _pos(0, 0)
    , _toggleKey(Qt::Key_F12)
{
    _timer.setInterval(TICK_INTERVAL_MS);
    connect(&_timer, SIGNAL(timeout()), this, SLOT(onTick()));
}

// The overlay belongs to its window; leaving it as it is keeps a window that
// outlives us (it never does in panel-setup) from losing a child under its feet.
KbdCursor::~KbdCursor() = default;

void KbdCursor::install()
{
    QCoreApplication::instance()->installEventFilter(this);
    _pos = screenRect().center();
}

bool KbdCursor::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        return handleKeyPress(static_cast<QKeyEvent *>(event));
    case QEvent::KeyRelease:
        return handleKeyRelease(static_cast<QKeyEvent *>(event));
    case QEvent::FocusIn:
        if (_active) {
            // Qt hands every focus change on to the style as well, and a
            // window gets one when it is activated. Those are no focus
            // widgets of their own: they are judged by the widget that has
            // the focus, or the style's copy would end pass-through as soon
            // as it began.
            QWidget *focused = watched->isWidgetType() ? static_cast<QWidget *>(watched) : QApplication::focusWidget();
            _passThrough = consumesArrows(focused);
            if (_overlay)
                _overlay->setDimmed(_passThrough);
            if (_passThrough) {
                // The widget owns the arrows now: a movement in progress must
                // not go on behind its back.
                _dirs = 0;
                _timer.stop();
            }
        }
        break;
    case QEvent::Show:
    case QEvent::Hide:
    case QEvent::Close:
    case QEvent::WindowActivate:
    case QEvent::ZOrderChange:
        // Queued, so the window has finished showing, hiding or raising before
        // the overlay and the pointer follow it.
        if (_active && watched->isWidgetType() && static_cast<QWidget *>(watched)->isWindow())
            QMetaObject::invokeMethod(this, "onWindowChanged", Qt::QueuedConnection);
        break;
    default:
        break;
    }
    return false;
}

bool KbdCursor::handleKeyPress(QKeyEvent *event)
{
    const int key = event->key();

    if (key == _toggleKey && !event->isAutoRepeat()) {
        if (!_active || _passThrough) {
            _passThrough = false;
            activate();
        } else {
            deactivate();
        }
        return true;
    }

    if (_active && (key == Qt::Key_Tab || key == Qt::Key_Backtab) && (event->modifiers() & Qt::ControlModifier)) {
        switchWindow();
        return true;
    }

    const int direction = directionOf(key);
    if (direction) {
        if (event->modifiers() & Qt::ControlModifier) {
            if (!_active) {
                activate();
                return true;
            }
            _passThrough = false;
        } else {
            if (!_active) {
                if (consumesArrows(QApplication::focusWidget()))
                    return false;
                activate();
                return true;
            }
            if (_passThrough)
                return false;
        }
        // Continuous movement comes from the timer; key repeat would only add
        // jerks at the keyboard's own rate.
        if (event->isAutoRepeat())
            return true;
        _dirs |= direction;
        if (!_timer.isActive()) {
            _speed = SPEED_START;
            _timer.start();
        }
        return true;
    }

    if (!_active || _passThrough)
        return false;

    if (isActionKey(key)) {
        if (event->isAutoRepeat())
            pressAndHold();
        else if (!_holdTarget)
            click(Qt::LeftButton);
        return true;
    }
    switch (key) {
    case Qt::Key_Escape:
        deactivate();
        return true;
    case Qt::Key_PageUp:
        wheel(WHEEL_NOTCH);
        return true;
    case Qt::Key_PageDown:
        wheel(-WHEEL_NOTCH);
        return true;
    case Qt::Key_Menu:
        click(Qt::RightButton);
        return true;
    default:
        return false;
    }
}

bool KbdCursor::handleKeyRelease(QKeyEvent *event)
{
    if (!_active || event->isAutoRepeat())
        return false;

    const int key = event->key();
    if (isActionKey(key)) {
        // Any of the three ends a hold, whichever of them started it.
        if (_holdTarget) {
            releaseHold();
            return true;
        }
        return !_passThrough;
    }

    const int direction = directionOf(key);
    if (direction) {
        _dirs &= ~direction;
        if (_dirs == 0) {
            _timer.stop();
            _speed = SPEED_START;
        }
        return true;
    }
    return false;
}

void KbdCursor::activate()
{
    _active = true;
    ensureOverlay(nullptr);
    if (_overlay)
        _overlay->setDimmed(false);
    const QRect allowed = allowedRect();
    moveCursorTo(allowed.contains(_pos) ? _pos : allowed.center());
}

void KbdCursor::deactivate()
{
    releaseHold();
    _timer.stop();
    _dirs = 0;
    _active = false;
    _passThrough = false;
    if (_hoverTarget)
        postHoverChange(_hoverTarget, QEvent::Leave);
    _hoverTarget.clear();
    if (_overlay)
        _overlay->hide();
}

void KbdCursor::onTick()
{
    if (_dirs == 0) {
        _timer.stop();
        return;
    }

    // Accumulated rather than computed from a tick count: the rounding of the
    // running sum is what gives the ramp its shape.
    _speed += SPEED_GAIN_PER_TICK;
    int step;
    if (_speed >= SPEED_MAX) {
        _speed = SPEED_MAX;
        step = int(SPEED_MAX);
    } else {
        step = std::max(1, int(_speed));
    }

    QPoint next = _pos;
    if (_dirs & DirLeft)
        next.rx() -= step;
    if (_dirs & DirRight)
        next.rx() += step;
    if (_dirs & DirUp)
        next.ry() -= step;
    if (_dirs & DirDown)
        next.ry() += step;
    moveCursorTo(next);
}

void KbdCursor::onWindowChanged()
{
    if (!_active)
        return;
    ensureOverlay(nullptr);
    const QRect allowed = allowedRect();
    if (allowed.contains(_pos))
        return;
    moveCursorTo(allowed.center());
}

QRect KbdCursor::screenRect() const
{
    QScreen *screen = QGuiApplication::screenAt(_pos);
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry() : QRect();
}

QRect KbdCursor::allowedRect() const
{
    const QRect screen = screenRect();

    QWidget *reference = QApplication::activeModalWidget();
    if (!reference || !reference->isVisible()) {
        if (_overlay)
            reference = _overlay->window();
        else
            reference = QApplication::activeWindow();
    }
    if (!reference || !reference->isVisible())
        return screen;

    const QRect window = globalRectOf(reference);
    if (screen.isNull())
        return window;
    return screen & window;
}

QWidget *KbdCursor::targetAt(const QPoint &globalPos) const
{
    return QApplication::widgetAt(globalPos);
}

void KbdCursor::ensureOverlay(QWidget *hint)
{
    QWidget *window = hint ? hint->window() : QApplication::activeWindow();
    if (!window) {
        const QList<QWidget *> windows = eligibleWindows();
        if (windows.isEmpty())
            return;
        window = windows.first();
    }

    if (!_overlay || _overlay->parentWidget() != window) {
        // Deleted at once, not later: a deferred deletion would leave a second
        // arrow on the old window until the event loop comes round.
        delete _overlay.data();
        _overlay = new CursorOverlay(window);
        // Drawn where the clicks land from the start, not at the window's
        // origin until the pointer next moves.
        _overlay->move(window->mapFromGlobal(_pos));
    }
    _overlay->raise();
    _overlay->show();
}

void KbdCursor::moveCursorTo(const QPoint &globalPos)
{
    ensureOverlay(nullptr);

    const QRect allowed = allowedRect();
    // Lower bound last: an empty or null rectangle clamps to its top-left.
    const QPoint clamped(std::max(allowed.left(), std::min(globalPos.x(), allowed.right())),
                         std::max(allowed.top(), std::min(globalPos.y(), allowed.bottom())));

    // A held button keeps getting moves at the edge, so a drag in progress
    // still sees the pointer while it presses against the border.
    if (clamped == _pos && !_holdTarget)
        return;
    _pos = clamped;

    if (_overlay && _overlay->parentWidget())
        _overlay->move(_overlay->parentWidget()->mapFromGlobal(_pos));
    syncHover();
}

void KbdCursor::syncHover()
{
    const QPointF screenPos(_pos);

    if (_holdTarget) {
        QWidget *held = _holdTarget.data();
        QCoreApplication::postEvent(held, new QMouseEvent(QEvent::MouseMove, QPointF(held->mapFromGlobal(_pos)),
                                                          screenPos, Qt::NoButton, Qt::LeftButton, Qt::NoModifier));
        return;
    }

    QWidget *target = targetAt(_pos);
    if (_hoverTarget && _hoverTarget.data() != target)
        postHoverChange(_hoverTarget, QEvent::Leave);
    if (!target) {
        _hoverTarget.clear();
        return;
    }
    if (_hoverTarget.data() != target) {
        postHoverChange(target, QEvent::Enter);
        _hoverTarget = target;
    }
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseMove, QPointF(target->mapFromGlobal(_pos)),
                                                        screenPos, Qt::NoButton, Qt::NoButton, Qt::NoModifier));
}

void KbdCursor::postHoverChange(QWidget *widget, QEvent::Type type)
{
    QCoreApplication::postEvent(widget, new QEvent(type));
    // Enter and Leave flip the widget's under-mouse state, which styles such
    // as Fusion draw, but a plain Enter brings no HoverEnter and so no repaint
    // of its own: only the strips the arrow uncovers would be redrawn, in the
    // new look. The repaint request is delivered after the posted event.
    widget->update();
}

void KbdCursor::click(Qt::MouseButton button)
{
    QWidget *target = targetAt(_pos);
    if (!target)
        return;
    const QPointF local(target->mapFromGlobal(_pos));
    const QPointF screenPos(_pos);

    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, local, screenPos, button, button,
                                                        QGuiApplication::keyboardModifiers()));
    if (button == Qt::RightButton) {
        // A right press alone opens no context menu: Qt makes the ContextMenu
        // event only from mouse input that comes through the window. A real
        // mouse on Linux gives it between the press and the release.
        QCoreApplication::postEvent(target, new QContextMenuEvent(QContextMenuEvent::Mouse, local.toPoint(), _pos,
                                                                  QGuiApplication::keyboardModifiers()));
    }
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonRelease, local, screenPos, button,
                                                        Qt::NoButton, QGuiApplication::keyboardModifiers()));
}

void KbdCursor::wheel(int delta)
{
    QWidget *target = targetAt(_pos);
    if (!target)
        return;
    QCoreApplication::postEvent(target, new QWheelEvent(QPointF(target->mapFromGlobal(_pos)), QPointF(_pos),
                                                        QPoint(0, 0), QPoint(0, delta), Qt::NoButton, Qt::NoModifier,
                                                        Qt::NoScrollPhase, false, Qt::MouseEventNotSynthesized));
}

void KbdCursor::pressAndHold()
{
    if (_holdTarget)
        return;
    QWidget *target = targetAt(_pos);
    if (!target)
        return;
    _holdTarget = target;
    QCoreApplication::postEvent(target, new QMouseEvent(QEvent::MouseButtonPress, QPointF(target->mapFromGlobal(_pos)),
                                                        QPointF(_pos), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
}

void KbdCursor::releaseHold()
{
    if (!_holdTarget)
        return;
    QWidget *held = _holdTarget.data();
    QCoreApplication::postEvent(held, new QMouseEvent(QEvent::MouseButtonRelease, QPointF(held->mapFromGlobal(_pos)),
                                                      QPointF(_pos), Qt::LeftButton, Qt::NoButton, Qt::NoModifier));
    _holdTarget.clear();
}

void KbdCursor::switchWindow()
{
    if (QApplication::activeModalWidget())
        return;

    const QList<QWidget *> windows = eligibleWindows();
    if (windows.size() < 2)
        return;

    QWidget *current = _overlay ? _overlay->window() : QApplication::activeWindow();
    const int index = windows.indexOf(current);
    QWidget *next = windows.at(index < 0 ? 0 : (index + 1) % windows.size());

    next->activateWindow();
    next->raise();
    ensureOverlay(next);
    moveCursorTo(globalRectOf(next).center());
}

bool KbdCursor::consumesArrows(QWidget *widget)
{
    if (!widget)
        return false;
    return qobject_cast<QLineEdit *>(widget) || qobject_cast<QTextEdit *>(widget)
           || qobject_cast<QPlainTextEdit *>(widget) || qobject_cast<QAbstractSpinBox *>(widget)
           || qobject_cast<QComboBox *>(widget) || qobject_cast<QAbstractItemView *>(widget)
           || qobject_cast<QAbstractSlider *>(widget);
}
