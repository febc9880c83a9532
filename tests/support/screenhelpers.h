#ifndef SCREENHELPERS_H
#define SCREENHELPERS_H

// What panel-setup's screen tests share: the test-support library's files,
// widget finders and message keeper, and the settings and the date and time
// editor as the screens know them.

#include "messagekeeper.h"
#include "testfiles.h"
#include "widgetfinders.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QtTest>

namespace ScreenTest {

// Settings as a panel in the field holds them: a static address, the command-line
// button shown, the sandbox's browser control, a serial file beside the binary.
inline QJsonObject fieldSettings()
{
    return QJsonObject{
        {"browser_start_command", sandboxBrowserCommand()},
        {"serial_id_file_path", besideExecutable("serial.txt")},
        {"ip_address", "192.168.1.50"},
        {"ip_mask", "255.255.255.0"},
        {"ip_gateway", "192.168.1.1"},
        {"dhcp_enable", false},
        {"show_cmd_button", true},
    };
}

inline bool writeSettings(const QJsonObject &settings)
{
    return writeFile(besideExecutable(QStringLiteral("settings.json")), QJsonDocument(settings).toJson());
}

inline QJsonObject readSettings()
{
    return QJsonDocument::fromJson(readFile(besideExecutable(QStringLiteral("settings.json")))).object();
}

// The date and time editor as the operator reads it: the five numbers.
inline QDateTime shownDateTime(QWidget *dialog)
{
    auto number
        = [dialog](const char *name) { return dialog->findChild<QLabel *>(QLatin1String(name))->text().toInt(); };
    return QDateTime(QDate(number("label_1"), number("label_2"), number("label_3")),
                     QTime(number("label_4"), number("label_5")));
}

inline QAbstractButton *timeButton(QWidget *dialog, const QString &which)
{
    return dialog->findChild<QAbstractButton *>(QStringLiteral("pushButton_") + which);
}

// Steps the editor to the given date and time the way an operator would:
// the day first into 1..28 so that no month or year step has to shorten it,
// then year, month, day, hour and minute, each by its own buttons.
inline void stepTimeEditorTo(QWidget *dialog, const QDate &date, int hour, int minute)
{
    auto step = [dialog](const QString &field, int difference) {
        const QString which = (difference > 0 ? QStringLiteral("up_") : QStringLiteral("down_")) + field;
        clickTimes(timeButton(dialog, which), qAbs(difference));
    };
    const QDateTime start = shownDateTime(dialog);
    if (start.date().day() > 28)
        step(QStringLiteral("d"), 28 - start.date().day());
    step(QStringLiteral("y"), date.year() - shownDateTime(dialog).date().year());
    step(QStringLiteral("m"), date.month() - shownDateTime(dialog).date().month());
    step(QStringLiteral("d"), date.day() - shownDateTime(dialog).date().day());
    step(QStringLiteral("h"), hour - shownDateTime(dialog).time().hour());
    step(QStringLiteral("min"), minute - shownDateTime(dialog).time().minute());
}

} // namespace ScreenTest

#endif // SCREENHELPERS_H
