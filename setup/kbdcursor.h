#ifndef KBDCURSOR_H
#define KBDCURSOR_H

#include <QEvent>
#include <QObject>
#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QTimer>
#include <QWidget>

class QKeyEvent;
class QPaintEvent;

// The arrow of the keyboard pointer, drawn as a small child of the window the
// pointer is in. It is transparent for the mouse, so the widget below it is the
// one that QApplication::widgetAt finds and that receives the synthesized
// clicks, and it never takes the keyboard focus away from anything.
class CursorOverlay : public QWidget
{
    Q_OBJECT

public:
    explicit CursorOverlay(QWidget *parent);

    void setDimmed(bool dimmed);
    bool isDimmed() const { return _dimmed; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    bool _dimmed;
};

// The panel has a keyboard and no mouse. KbdCursor, installed as an event filter
// on the whole application, keeps a virtual pointer that the arrow keys move and
// turns action keys into the mouse, wheel and hover events a real mouse would
// produce, posted to the widget under the pointer. The screens know nothing of it.
class KbdCursor : public QObject
{
    Q_OBJECT

public:
    explicit KbdCursor(QObject *parent);
    ~KbdCursor() override;

    void install();

public slots:
    void activate();
    void deactivate();

private slots:
    void onTick();
    void onWindowChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool handleKeyPress(QKeyEvent *event);
    bool handleKeyRelease(QKeyEvent *event);

    QRect screenRect() const;
    QRect allowedRect() const;
    QWidget *targetAt(const QPoint &globalPos) const;

    void ensureOverlay(QWidget *hint);
    void moveCursorTo(const QPoint &globalPos);
    void syncHover();
    void postHoverChange(QWidget *widget, QEvent::Type type);

    void click(Qt::MouseButton button);
    void wheel(int delta);
    void pressAndHold();
    void releaseHold();
    void switchWindow();

    static bool consumesArrows(QWidget *widget);

    bool _active;
    bool _passThrough;
    int _dirs;
    double _speed;
    QPoint _pos;
    QTimer _timer;
    QPointer<CursorOverlay> _overlay;
    QPointer<QWidget> _hoverTarget;
    QPointer<QWidget> _holdTarget;
    int _toggleKey;
};

#endif // KBDCURSOR_H
