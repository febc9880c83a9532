// Workloads for the keyboard pointer's two costs, run by bench/pointer-filter.sh
// and bench/pointer-hold.sh:
//
//   pointer-workload filter with|without ROUNDS
//       Key presses and releases typed into a window through the platform path
//       (as the evdev keyboard delivers them) and synchronous repaints, with or
//       without the pointer's application-wide event filter. The measured part
//       is bracketed for callgrind; prints the number of events delivered.
//   pointer-workload hold|idle SECONDS
//       With the pointer on, an arrow key held (the 16 ms ramp running, the
//       arrow moving and being repainted), direction reversed at the screen's
//       edges; or the same window with no key held. Prints the process's CPU
//       time per wall-clock second.
//
// Only widgets of its own: nothing here runs a command.

#include "kbdcursor.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>

#include <valgrind/callgrind.h>

#include <cstdio>
#include <sys/resource.h>

namespace {

class CountingApplication : public QApplication
{
public:
    using QApplication::QApplication;
    long delivered = 0;

    bool notify(QObject *receiver, QEvent *event) override
    {
        ++delivered;
        return QApplication::notify(receiver, event);
    }
};

// The focus widget of the workload: takes the keys and paints a little.
class Surface : public QWidget
{
public:
    explicit Surface(QWidget *parent)
        : QWidget(parent)
    {
        setFocusPolicy(Qt::StrongFocus);
    }
    int keys = 0;

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        ++keys;
        event->accept();
    }
    void keyReleaseEvent(QKeyEvent *event) override { event->accept(); }
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(240, 240, 240));
        painter.drawText(rect(), Qt::AlignCenter, QString::number(keys));
    }
};

// A screen like the settings window: labels, a grid of buttons, a surface.
QWidget *makeScreen(Surface **surface)
{
    auto *window = new QWidget;
    window->setGeometry(QGuiApplication::primaryScreen()->geometry());
    auto *grid = new QGridLayout(window);
    for (int row = 0; row < 4; ++row) {
        grid->addWidget(new QLabel(QString("Строка %1: 192.168.1.%1").arg(row + 10)), row, 0);
        for (int column = 1; column < 5; ++column)
            grid->addWidget(new QPushButton(column % 2 ? "+" : "-"), row, column);
    }
    *surface = new Surface(window);
    grid->addWidget(*surface, 4, 0, 1, 5);
    window->show();
    window->activateWindow();
    if (!QTest::qWaitForWindowActive(window))
        std::fprintf(stderr, "window did not become active\n");
    (*surface)->setFocus();
    QCoreApplication::processEvents();
    return window;
}

class MoveCounter : public QObject
{
public:
    long moves = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        moves += event->type() == QEvent::Move;
        return false;
    }
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void key(bool press, int code)
{
    QTest::simulateEvent(QGuiApplication::focusWindow(), press, code, Qt::NoModifier, QString(), false);
}

int runFilter(CountingApplication &app, bool withPointer, int rounds)
{
    if (withPointer)
        (new KbdCursor(&app))->install();
    Surface *surface = nullptr;
    QWidget *window = makeScreen(&surface);
    // Warm-up outside the measurement: fonts, glyph caches, first paints.
    for (int i = 0; i < 20; ++i) {
        key(true, Qt::Key_A);
        key(false, Qt::Key_A);
        surface->repaint();
    }

    static const int letters[] = {Qt::Key_A, Qt::Key_B, Qt::Key_1, Qt::Key_Minus, Qt::Key_Space, Qt::Key_F1};
    const long before = app.delivered;
    CALLGRIND_ZERO_STATS;
    CALLGRIND_TOGGLE_COLLECT;
    for (int i = 0; i < rounds; ++i) {
        const int code = letters[i % 6];
        key(true, code);
        key(false, code);
        surface->repaint();
    }
    CALLGRIND_TOGGLE_COLLECT;
    const long delivered = app.delivered - before;
    std::printf("events %ld keys %d\n", delivered, surface->keys);
    delete window;
    return 0;
}

int runHold(CountingApplication &app, bool holding, double seconds)
{
    (new KbdCursor(&app))->install();
    Surface *surface = nullptr;
    QWidget *window = makeScreen(&surface);
    surface->clearFocus();
    QCoreApplication::processEvents();
    key(true, Qt::Key_F12);
    key(false, Qt::Key_F12);
    // The pointer is confined to the window, which the platform may place a
    // little off the screen's origin.
    const QRect screen
        = QRect(window->mapToGlobal(QPoint(0, 0)), window->size()) & QGuiApplication::primaryScreen()->geometry();
    CursorOverlay *overlay = window->findChild<CursorOverlay *>();
    if (!overlay) {
        std::fprintf(stderr, "the pointer did not come on\n");
        return 1;
    }

    MoveCounter counter;
    overlay->installEventFilter(&counter);
    int held = Qt::Key_Right;
    // The application's own event loop, as in panel-setup: timers fire on
    // time, not when a polling loop gets round to them.
    QTimer look;
    look.setInterval(50);
    QObject::connect(&look, &QTimer::timeout, [&] {
        // At an edge the arrow would press on against it doing nothing:
        // turn round, as an operator steering back and forth would.
        const QPoint now = overlay->mapToGlobal(QPoint(0, 0));
        const bool atEdge = (held == Qt::Key_Right && now.x() >= screen.right())
                            || (held == Qt::Key_Left && now.x() <= screen.left());
        if (holding && atEdge) {
            key(false, held);
            held = held == Qt::Key_Right ? Qt::Key_Left : Qt::Key_Right;
            key(true, held);
        }
    });
    QTimer::singleShot(int(seconds * 1000), &app, &QCoreApplication::quit);

    QElapsedTimer wall;
    wall.start();
    const double cpuStart = cpuSeconds();
    if (holding)
        key(true, held);
    look.start();
    app.exec();
    look.stop();
    if (holding)
        key(false, held);
    const double cpu = cpuSeconds() - cpuStart;
    const double elapsed = wall.elapsed() / 1000.0;
    std::printf("cpu_ms_per_s %.2f moves_per_s %.1f\n", cpu * 1000 / elapsed, counter.moves / elapsed);
    delete window;
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    CountingApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 4 && args.at(1) == "filter")
        return runFilter(app, args.at(2) == "with", args.at(3).toInt());
    if (args.size() == 3 && (args.at(1) == "hold" || args.at(1) == "idle"))
        return runHold(app, args.at(1) == "hold", args.at(2).toDouble());
    std::fprintf(stderr, "usage: pointer-workload filter with|without ROUNDS | hold|idle SECONDS\n");
    return 2;
}
