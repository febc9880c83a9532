#include "screenfit.h"

#include <QCoreApplication>
#include <QDebug>
#include <QEvent>
#include <QLayout>
#include <QScreen>
#include <QWidget>

namespace {

// Windows and dialogs; not pop-ups, tool tips or the pointer's arrow.
QWidget *screenWidget(QObject *object)
{
    if (!object->isWidgetType())
        return nullptr;
    auto *widget = static_cast<QWidget *>(object);
    const Qt::WindowType type = widget->windowType();
    return widget->isWindow() && (type == Qt::Window || type == Qt::Dialog) ? widget : nullptr;
}

// The minimum size hint, not the size hint: the size hint also counts the
// stretchable gaps of the layouts at their preferred size, which the display
// does not have to give; below the minimum a text or a control is cut.
bool fitsInto(const QWidget *window, const QSize &room)
{
    const QSize needed = window->minimumSizeHint();
    return needed.width() <= room.width() && needed.height() <= room.height();
}

// A layout computes its hints anew only when it was told its items changed;
// the nested ones learn of a changed font only when the window is laid out
// again, after a return to the event loop. Only for trials: each invalidated
// layout asks to be laid out again, which reaches the window and this filter,
// so doing it on every layout request would never let the window rest.
bool fitsAfterFontChange(QWidget *window, const QSize &room)
{
    for (QLayout *layout : window->findChildren<QLayout *>()) {
        if (layout->parentWidget() && layout->parentWidget()->window() == window)
            layout->invalidate();
    }
    return fitsInto(window, room);
}

QFont scaledFont(const QFont &designed, qreal factor)
{
    QFont font(designed);
    if (designed.pointSizeF() > 0)
        font.setPointSizeF(designed.pointSizeF() * factor);
    else if (designed.pixelSize() > 0)
        font.setPixelSize(qMax(1, qRound(designed.pixelSize() * factor)));
    return font;
}

} // namespace

ScreenFit::ScreenFit(QObject *parent, const QSize &display)
    : QObject(parent)
    , _display(display)
{
}

void ScreenFit::install()
{
    QCoreApplication::instance()->installEventFilter(this);
}

qreal ScreenFit::factorOf(const QWidget *window) const
{
    return _windows.value(window).factor;
}

bool ScreenFit::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (type == QEvent::Show || type == QEvent::LayoutRequest) {
        QWidget *window = screenWidget(watched);
        if (window && (type == QEvent::Show || window->isVisible()))
            fit(window);
    }
    return false;
}

QSize ScreenFit::roomFor(const QWidget *window) const
{
    if (_display.isValid())
        return _display;
    const QScreen *screen = window->screen();
    return screen ? screen->availableGeometry().size() : QSize();
}

void ScreenFit::fit(QWidget *window)
{
    const QSize room = roomFor(window);
    if (room.isEmpty())
        return;
    if (!fitsInto(window, room)) {
        // The largest share, in hundredths, at which the window fits: smaller
        // fonts never need more room, so halving the range finds it in a few
        // trials.
        FittedWindow &fitted = fittedWindow(window);
        const qreal before = fitted.factor;
        int fitting = qRound(SMALLEST_FACTOR * 100);
        int tooLarge = qRound(fitted.factor * 100);
        while (tooLarge - fitting > 1) {
            const int middle = (fitting + tooLarge) / 2;
            applyFactor(fitted, middle / 100.0);
            if (fitsAfterFontChange(window, room))
                fitting = middle;
            else
                tooLarge = middle;
        }
        applyFactor(fitted, fitting / 100.0);
        if (!qFuzzyCompare(fitted.factor, before))
            qDebug("ScreenFit::fit() window[%s] display[%dx%d] fonts at [%.2f]", window->metaObject()->className(),
                   room.width(), room.height(), fitted.factor);
    }

    // The layout raised the window to its old minimum when it was shown; on the
    // panel the display's own size wins anyway, elsewhere this makes it so.
    if (window->width() > room.width() || window->height() > room.height()) {
        if (QLayout *layout = window->layout())
            layout->activate();
        window->resize(window->size().boundedTo(room));
    }
}

ScreenFit::FittedWindow &ScreenFit::fittedWindow(QWidget *window)
{
    auto found = _windows.find(window);
    if (found != _windows.end())
        return *found;
    // The font of every widget of the window as designed; each factor is
    // taken of these, never of a factor before it. Each widget gets its own:
    // under a style sheet, even a commented-out one, a widget does not take
    // over the size of its parent's font.
    FittedWindow fitted;
    fitted.fonts.append({window, window->font()});
    for (QWidget *child : window->findChildren<QWidget *>()) {
        if (child->window() == window)
            fitted.fonts.append({child, child->font()});
    }
    connect(window, &QObject::destroyed, this, [this, window] { _windows.remove(window); });
    return *_windows.insert(window, fitted);
}

void ScreenFit::applyFactor(FittedWindow &fitted, qreal factor)
{
    // Setting a font, even the same one again, asks for a new layout, which
    // comes back here: only a real change may do it.
    if (qFuzzyCompare(fitted.factor, factor))
        return;
    fitted.factor = factor;
    for (const DesignedFont &designed : qAsConst(fitted.fonts)) {
        if (designed.widget)
            designed.widget->setFont(scaledFont(designed.font, factor));
    }
}
