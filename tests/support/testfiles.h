#ifndef TESTFILES_H
#define TESTFILES_H

// Files around a test binary: panel-setup's settings store reads settings.json
// and header.txt from beside the executable, and the sandbox's stand-ins write
// their command log to $PANEL_SANDBOX_LOG.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace ScreenTest {

QString besideExecutable(const QString &name);
bool writeFile(const QString &path, const QByteArray &content);
// The whole file; empty when it cannot be read.
QByteArray readFile(const QString &path);

// The sandbox's recording browser-control program.
QString sandboxBrowserCommand();
// The sandbox's stand-ins append their argv, one JSON array a line: all of
// them, or those of one program.
QList<QStringList> recordedCommands();
QList<QStringList> recordedCommandsOf(const QString &program);

} // namespace ScreenTest

#endif // TESTFILES_H
