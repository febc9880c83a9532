// Preloaded (LD_PRELOAD) into the program under measurement. When the first
// paint of a QMainWindow has been delivered, it writes CLOCK_MONOTONIC in
// nanoseconds to $PANEL_STARTUP_PROBE_FILE and ends the event loop with 0, so
// that the program leaves by its own normal path.

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <ctime>

namespace {

bool installed = false;
bool painted = false;

void recordNow()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const qint64 ns = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
    QFile out(QString::fromLocal8Bit(qgetenv("PANEL_STARTUP_PROBE_FILE")));
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(QByteArray::number(ns) + '\n');
}

class FirstPaintProbe : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!painted && event->type() == QEvent::Paint && watched->isWidgetType()
            && static_cast<QWidget *>(watched)->window()->inherits("QMainWindow")) {
            painted = true;
            // Taken once this paint pass, children included, has been flushed.
            QTimer::singleShot(0, [] {
                recordNow();
                QCoreApplication::exit(0);
            });
        }
        return false;
    }
};

void install()
{
    if (installed)
        return;
    // panel-setup first runs a headless application to stop the browser; the
    // probe waits for the graphical one that follows.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        QObject::connect(QCoreApplication::instance(), &QObject::destroyed, [] { qAddPreRoutine(install); });
        return;
    }
    installed = true;
    qApp->installEventFilter(new FirstPaintProbe(qApp));
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(install)
