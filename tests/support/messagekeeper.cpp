#include "messagekeeper.h"

#include <QtGlobal>

namespace ScreenTest {

void quietOffscreenWarnings()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (type == QtWarningMsg && text == QLatin1String("This plugin does not support propagateSizeHints()"))
            return;
        if (previous)
            previous(type, context, text);
    });
}

QStringList &keptMessages()
{
    static QStringList messages;
    return messages;
}

void keepMessages()
{
    static QtMessageHandler framework = nullptr;
    framework = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        keptMessages() << text;
        if (framework && type != QtDebugMsg && type != QtInfoMsg)
            framework(type, context, text);
    });
}

} // namespace ScreenTest
