#ifndef WIDGETFINDERS_H
#define WIDGETFINDERS_H

// Finding the widgets of a screen by name and pressing them as the operator
// does, through the keyboard pointer's clicks; waiting for a modal editor.

#include <QAbstractButton>
#include <QCheckBox>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <functional>

namespace ScreenTest {

// A named child of a screen; a missing one means the layout changed, which no
// test can go on from.
template <class T>
T *child(QWidget &window, const QString &name)
{
    T *found = window.findChild<T *>(name);
    if (!found)
        qFatal("no child %s", qPrintable(name));
    return found;
}

template <class T>
T *child(QWidget &window, const char *name)
{
    return child<T>(window, QLatin1String(name));
}

QAbstractButton *button(QWidget &window, const QString &name);
QAbstractButton *button(QWidget &window, const char *name);
// The text of a named label.
QString text(QWidget &window, const char *labelName);

// A press and release in the middle of the button, as the keyboard pointer
// delivers it. A disabled or hidden button ignores it, as it would on the panel.
void click(QAbstractButton *button);
// A check box reacts only to clicks on its box or its text.
void click(QCheckBox *checkBox);
void clickTimes(QAbstractButton *button, int times);

// The editors run in their own exec() loop. This waits, inside that loop, for
// a dialog of type Dialog to open on the parent, hands it to the operator's
// actions, and rejects it if they left it open (a failed check must not leave
// the test hanging in the modal loop). *opened tells whether one came at all.
template <class Dialog>
void whenDialogOpens(QWidget *parent, std::function<void(Dialog *)> operate, bool *opened = nullptr)
{
    auto *poll = new QTimer(parent);
    auto *attempts = new int(0);
    QObject::connect(poll, &QTimer::timeout, parent, [=] {
        Dialog *dialog = parent->findChild<Dialog *>();
        if (!dialog || !dialog->isVisible()) {
            if (++*attempts < 200)
                return;
        }
        poll->stop();
        poll->deleteLater();
        delete attempts;
        if (opened)
            *opened = dialog != nullptr;
        if (!dialog)
            return;
        QPointer<Dialog> guard(dialog);
        operate(dialog);
        if (guard && guard->isVisible())
            guard->reject();
    });
    poll->start(10);
}

// Runs the application's event loop, as main() does, with the operator's
// action posted into it; returns the loop's exit code. A loop that nothing
// ends returns 99 after the given time instead of hanging the test.
int execWith(std::function<void()> action, int limitMs = 10000);

} // namespace ScreenTest

#endif // WIDGETFINDERS_H
