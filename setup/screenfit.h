#ifndef SCREENFIT_H
#define SCREENFIT_H

#include <QFont>
#include <QHash>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <QVector>

class QWidget;

// Makes the screens fit the display they are shown on. The layouts are drawn
// for displays of 1024 x 600 and up at the panel's font resolution; on a smaller
// display a window would be squeezed below what its texts need, and controls
// would be cut or vanish. A window or dialog that needs more room than the
// display offers gets all its fonts made smaller by one common factor, so that
// they keep their relative sizes, and only as far as the display requires. A
// screen that fits keeps its fonts untouched and is drawn exactly as designed.
//
// Installed once on the application as an event filter, it looks at every
// window and dialog when it is shown and whenever its layout asks for a new
// size (an address or a lease that makes a label longer). Fonts only shrink
// while the program runs: a screen whose fonts changed back and forth with its
// texts would be harder to read than one that stays a little small.
class ScreenFit : public QObject
{
    Q_OBJECT

public:
    // display: the room each window gets. Empty: the available geometry of the
    // screen the window is on, which on the panel is the whole display.
    explicit ScreenFit(QObject *parent = nullptr, const QSize &display = QSize());

    void install();

    // The share of their designed size at which the window's fonts are drawn;
    // 1 for a window that fits as designed.
    qreal factorOf(const QWidget *window) const;

    bool eventFilter(QObject *watched, QEvent *event) override;

    // Below this share of their designed size the texts are no longer readable
    // from an arm's length; a screen that does not fit even then stays cut.
    static constexpr qreal SMALLEST_FACTOR = 0.5;

private:
    struct DesignedFont
    {
        QPointer<QWidget> widget;
        QFont font;
    };
    struct FittedWindow
    {
        qreal factor = 1.0;
        QVector<DesignedFont> fonts;
    };

    QSize roomFor(const QWidget *window) const;
    void fit(QWidget *window);
    FittedWindow &fittedWindow(QWidget *window);
    void applyFactor(FittedWindow &fitted, qreal factor);

    QSize _display;
    QHash<const QWidget *, FittedWindow> _windows;
};

#endif // SCREENFIT_H
