#include "testfiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>

namespace ScreenTest {

QString besideExecutable(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString sandboxBrowserCommand()
{
    return QString::fromLocal8Bit(qgetenv("PANEL_SANDBOX_BROWSER"));
}

QList<QStringList> recordedCommands()
{
    QList<QStringList> commands;
    const QByteArray log = readFile(QString::fromLocal8Bit(qgetenv("PANEL_SANDBOX_LOG")));
    for (const QByteArray &line : log.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        QStringList argv;
        for (const QJsonValue &item : QJsonDocument::fromJson(line).array())
            argv << item.toString();
        commands << argv;
    }
    return commands;
}

QList<QStringList> recordedCommandsOf(const QString &program)
{
    QList<QStringList> found;
    for (const QStringList &argv : recordedCommands()) {
        if (!argv.isEmpty() && argv.first() == program)
            found << argv;
    }
    return found;
}

} // namespace ScreenTest
