#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include <QByteArray>
#include <QString>

// Writes `content` as the settings file at `path`. The new file replaces the
// old one whole once it is on the disk, so a power cut or a full disk leaves
// either the old or the new settings. Where nothing can be replaced (a
// read-only root with the file bound or linked into it), the file is rewritten
// where it lies, with the old content put back after a failed write. A symbolic
// link is saved at its target. Returns whether the content was saved; every
// failure is logged.
bool saveSettingsFile(const QString &path, const QByteArray &content);

#endif // SETTINGSFILE_H
