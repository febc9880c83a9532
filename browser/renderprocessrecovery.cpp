#include "renderprocessrecovery.h"

#include <QWebEngineView>
#include <QtGlobal>

#include <algorithm>

RenderProcessRecovery::RenderProcessRecovery(QWebEngineView *view, const QUrl &startUrl, QObject *parent)
    : QObject(parent)
    , _view(view)
    , _startUrl(startUrl)
{
    _reloadTimer.setSingleShot(true);
    _stableTimer.setSingleShot(true);
    _stableTimer.setInterval(STABLE_MS);
    connect(&_reloadTimer, &QTimer::timeout, this, &RenderProcessRecovery::slot_reload);
    connect(&_stableTimer, &QTimer::timeout, this, &RenderProcessRecovery::slot_stable);
    connect(view->page(), &QWebEnginePage::renderProcessTerminated, this,
            &RenderProcessRecovery::slot_renderProcessTerminated);
    connect(view, &QWebEngineView::loadFinished, this, &RenderProcessRecovery::slot_loadFinished);
}

void RenderProcessRecovery::slot_renderProcessTerminated(QWebEnginePage::RenderProcessTerminationStatus status,
                                                         int exitCode)
{
    if (status == QWebEnginePage::NormalTerminationStatus)
        return;
    // A second death before the page has proved itself keeps the longer delay.
    _stableTimer.stop();
    qWarning("render process ended abnormally: status[%d] exitCode[%d], reloading in [%d] ms", int(status), exitCode,
             _nextDelay);
    _reloadTimer.start(_nextDelay);
    _nextDelay = std::min(_nextDelay * 2, int(MAXIMUM_DELAY_MS));
}

void RenderProcessRecovery::slot_loadFinished(bool ok)
{
    Q_UNUSED(ok); // the engine's error page is a page that stays up too
    if (!_reloadTimer.isActive())
        _stableTimer.start();
}

void RenderProcessRecovery::slot_reload()
{
    if (!_view)
        return;
    // A render process that died before the first page was committed leaves
    // nothing to reload: start over from the page named on the command line.
    const QUrl current = _view->url();
    if (current.isEmpty())
        _view->load(_startUrl);
    else
        _view->reload();
}

void RenderProcessRecovery::slot_stable()
{
    _nextDelay = INITIAL_DELAY_MS;
}
