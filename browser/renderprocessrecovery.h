#ifndef RENDERPROCESSRECOVERY_H
#define RENDERPROCESSRECOVERY_H

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QWebEnginePage>

class QWebEngineView;

// Brings the page back after the web engine's render process has died.
//
// A kiosk has nobody to press "reload": a render process that crashed or was
// killed for memory would leave a dead page on the panel until it is power-
// cycled. Each abnormal end schedules a reload; the delay starts at
// INITIAL_DELAY_MS and doubles up to MAXIMUM_DELAY_MS, so a page that kills its
// render process every time does not keep the panel's two cores busy
// restarting it. Once a page has stayed up for STABLE_MS the delay starts
// over. A normal end of the render process is left alone.
class RenderProcessRecovery : public QObject
{
    Q_OBJECT

public:
    static const int INITIAL_DELAY_MS = 1000;
    static const int MAXIMUM_DELAY_MS = 60000;
    static const int STABLE_MS = 60000;

    RenderProcessRecovery(QWebEngineView *view, const QUrl &startUrl, QObject *parent = nullptr);

    int nextDelay() const { return _nextDelay; }

private slots:
    void slot_renderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status, int exitCode);
    void slot_loadFinished(bool ok);
    void slot_reload();
    void slot_stable();

private:
    QPointer<QWebEngineView> _view;
    QUrl _startUrl;
    int _nextDelay = INITIAL_DELAY_MS;
    QTimer _reloadTimer;
    QTimer _stableTimer;
};

#endif // RENDERPROCESSRECOVERY_H
