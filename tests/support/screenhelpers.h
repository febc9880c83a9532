#ifndef SCREENHELPERS_H
#define SCREENHELPERS_H

// What the screen tests share: pressing widgets as the operator does, waiting
// for a modal editor to open, and the files beside the test binary that the
// settings store reads.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QPointer>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace ScreenTest {

// The offscreen platform warns at every shown dialog that it cannot pass size
// hints on; on the panel there is nothing to pass them to either. Call from
// initTestCase, after the test framework has put its own handler in place.
inline void quietOffscreenWarnings()
{
    static QtMessageHandler previous = nullptr;
    previous = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        if (type == QtWarningMsg && text == QLatin1String("This plugin does not support propagateSizeHints()"))
            return;
        if (previous)
            previous(type, context, text);
    });
}

// The store's and the window's own log lines, kept for the checks. Debug and
// info lines are not printed: they would bury the test output.
inline QStringList &keptMessages()
{
    static QStringList messages;
    return messages;
}

inline void keepMessages()
{
    static QtMessageHandler framework = nullptr;
    framework = qInstallMessageHandler([](QtMsgType type, const QMessageLogContext &context, const QString &text) {
        keptMessages() << text;
        if (framework && type != QtDebugMsg && type != QtInfoMsg)
            framework(type, context, text);
    });
}

// A named child of a screen; a missing one means the layout changed, which no
// test can go on from.
template <class T>
T *child(QWidget &window, const char *name)
{
    T *found = window.findChild<T *>(QLatin1String(name));
    if (!found)
        qFatal("no child %s", name);
    return found;
}

inline QAbstractButton *button(QWidget &window, const char *name)
{
    return child<QAbstractButton>(window, name);
}

inline QString text(QWidget &window, const char *labelName)
{
    return child<QLabel>(window, labelName)->text();
}

inline QString besideExecutable(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
}

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

// The sandbox's recording browser-control program.
inline QString sandboxBrowserCommand()
{
    return QString::fromLocal8Bit(qgetenv("PANEL_SANDBOX_BROWSER"));
}

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

inline QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool writeSettings(const QJsonObject &settings)
{
    return writeFile(besideExecutable(QStringLiteral("settings.json")), QJsonDocument(settings).toJson());
}

inline QJsonObject readSettings()
{
    return QJsonDocument::fromJson(readFile(besideExecutable(QStringLiteral("settings.json")))).object();
}

// A press and release in the middle of the button, as the keyboard pointer
// delivers it. A disabled or hidden button ignores it, as it would on the panel.
inline void click(QAbstractButton *button)
{
    QTest::mouseClick(button, Qt::LeftButton, Qt::NoModifier, button->rect().center());
}

// A check box reacts only to clicks on its box or its text.
inline void click(QCheckBox *checkBox)
{
    QStyleOptionButton option;
    option.initFrom(checkBox);
    const QRect box = checkBox->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option, checkBox);
    QTest::mouseClick(checkBox, Qt::LeftButton, Qt::NoModifier, box.center());
}

inline void clickTimes(QAbstractButton *button, int times)
{
    for (int i = 0; i < times; ++i)
        click(button);
}

// The editors run in their own exec() loop. This waits, inside that loop, for
// a dialog of type Dialog to open on the parent, hands it to the operator's
// actions, and rejects it if they left it open (a failed check must not leave
// the test hanging in the modal loop). *opened tells whether one came at all.
template <class Dialog>
void whenDialogOpens(QWidget *parent, std::function<void(Dialog *)> operate, bool *opened = nullptr)
{
    auto *poll = new QTimer(parent);
    auto *attempts = new int(0);
    QObject::connect(poll, &QTimer::timeout, parent, [=] {
        Dialog *dialog = parent->findChild<Dialog *>();
        if (!dialog || !dialog->isVisible()) {
            if (++*attempts < 200)
                return;
        }
        poll->stop();
        poll->deleteLater();
        delete attempts;
        if (opened)
            *opened = dialog != nullptr;
        if (!dialog)
            return;
        QPointer<Dialog> guard(dialog);
        operate(dialog);
        if (guard && guard->isVisible())
            guard->reject();
    });
    poll->start(10);
}

// Runs the application's event loop, as main() does, with the operator's
// action posted into it; returns the loop's exit code. A loop that nothing
// ends returns 99 after the given time instead of hanging the test.
inline int execWith(std::function<void()> action, int limitMs = 10000)
{
    QTimer::singleShot(0, action);
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, [] { QCoreApplication::exit(99); });
    limit.start(limitMs);
    return QCoreApplication::exec();
}

// The date and time editor as the operator reads it: the five numbers.
inline QDateTime shownDateTime(QWidget *dialog)
{
    auto number = [dialog](const char *name) {
        return dialog->findChild<QLabel *>(QLatin1String(name))->text().toInt();
    };
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

// The sandbox's stand-ins append their argv, one JSON array a line.
inline QList<QStringList> recordedCommands()
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

inline QList<QStringList> recordedCommandsOf(const QString &program)
{
    QList<QStringList> found;
    for (const QStringList &argv : recordedCommands()) {
        if (!argv.isEmpty() && argv.first() == program)
            found << argv;
    }
    return found;
}

} // namespace ScreenTest

#endif // SCREENHELPERS_H
