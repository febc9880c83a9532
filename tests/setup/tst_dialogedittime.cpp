// The date and time editor: what it opens with and how its buttons move the
// moment. Nothing here presses "Применить": that sets the clock, and is tested
// inside the sandbox only.

#include "dialogedittime.h"
#include "screenhelpers.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

#include <ctime>

using ScreenTest::click;
using ScreenTest::clickTimes;
using ScreenTest::shownDateTime;
using ScreenTest::stepTimeEditorTo;
using ScreenTest::timeButton;

class TestDialogEditTime : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void opensAtTheCurrentLocalTime();
    void stepsMoveTheWholeMoment_data();
    void stepsMoveTheWholeMoment();
    void applyOnlyWithinTheClockRange_data();
    void applyOnlyWithinTheClockRange();
    void theClockRangeHoldsToTheMillisecond_data();
    void theClockRangeHoldsToTheMillisecond();
    void heldButtonRepeats();
    void noWidgetTakesFocus();
};

void TestDialogEditTime::initTestCase()
{
    ScreenTest::quietOffscreenWarnings();
    // Local time is the dialog's time; in UTC no summer-time hour goes missing
    // and the clock range can be stated to the minute.
    qputenv("TZ", "UTC");
    tzset();
}

void TestDialogEditTime::opensAtTheCurrentLocalTime()
{
    const QDateTime before = QDateTime::currentDateTime();
    DialogEditTime dialog;
    const QDateTime after = QDateTime::currentDateTime();
    dialog.show();

    const QDateTime shown = shownDateTime(&dialog);
    QVERIFY2(shown.isValid(), qPrintable(shown.toString()));
    // Shown to the minute; the opening moment's seconds are cut off.
    QVERIFY(shown >= before.addSecs(-before.time().second() - 1));
    QVERIFY(shown <= after);
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_1"))->text(), before.toString("yyyy"));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_ip4"))->text(), QStringLiteral("|"));
    QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_ip4_2"))->text(), QStringLiteral(":"));
    QCOMPARE(dialog.findChild<QGroupBox *>(QStringLiteral("groupBox"))->title(), QStringLiteral("Установка времени:"));
    QVERIFY(timeButton(&dialog, QStringLiteral("apply"))->isEnabled());
}

void TestDialogEditTime::stepsMoveTheWholeMoment_data()
{
    QTest::addColumn<QDateTime>("start");
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<QDateTime>("expected");

    auto at = [](const char *text) { return QDateTime::fromString(QLatin1String(text), Qt::ISODate); };

    QTest::newRow("month + onto a shorter month")
        << at("2024-01-31T10:00") << QStringList{"up_m"} << at("2024-02-29T10:00");
    QTest::newRow("year + from 29 February") << at("2024-02-29T10:00") << QStringList{"up_y"} << at("2025-02-28T10:00");
    QTest::newRow("back again keeps the shorter day")
        << at("2024-03-31T08:00") << QStringList{"down_m", "up_m"} << at("2024-03-29T08:00");
    QTest::newRow("minute + into the next year")
        << at("2023-12-31T23:59") << QStringList{"up_min"} << at("2024-01-01T00:00");
    QTest::newRow("minute - into the previous day")
        << at("2024-01-01T00:00") << QStringList{"down_min"} << at("2023-12-31T23:59");
    QTest::newRow("hour - into the previous month")
        << at("2024-03-01T00:30") << QStringList{"down_h"} << at("2024-02-29T23:30");
    QTest::newRow("hour + into the next day")
        << at("2023-05-17T23:10") << QStringList{"up_h"} << at("2023-05-18T00:10");
    QTest::newRow("day + across the year end")
        << at("2023-12-31T12:00") << QStringList{"up_d"} << at("2024-01-01T12:00");
    QTest::newRow("day - across a month end")
        << at("2023-03-01T12:00") << QStringList{"down_d"} << at("2023-02-28T12:00");
    QTest::newRow("year - keeps everything else")
        << at("2030-07-04T06:45") << QStringList{"down_y"} << at("2029-07-04T06:45");
}

void TestDialogEditTime::stepsMoveTheWholeMoment()
{
    QFETCH(QDateTime, start);
    QFETCH(QStringList, buttons);
    QFETCH(QDateTime, expected);

    DialogEditTime dialog;
    dialog.show();
    stepTimeEditorTo(&dialog, start.date(), start.time().hour(), start.time().minute());
    QCOMPARE(shownDateTime(&dialog), start);

    for (const QString &which : buttons)
        click(timeButton(&dialog, which));
    QCOMPARE(shownDateTime(&dialog), expected);
}

// The clock setter takes an unsigned 32-bit count of seconds since
// 1970-01-01 00:00:00 UTC, up to 2106-02-07 06:28:15. Outside that range the
// count would wrap, so "Применить" must not be pressable there.
void TestDialogEditTime::applyOnlyWithinTheClockRange_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<bool>("applicable");
    QTest::addColumn<QStringList>("backIntoRange");

    auto at = [](const char *text) { return QDateTime::fromString(QLatin1String(text), Qt::ISODate); };

    QTest::newRow("first minute of 1970") << at("1970-01-01T00:00") << true << QStringList();
    QTest::newRow("last minute of 1969") << at("1969-12-31T23:59") << false << QStringList{"up_min"};
    QTest::newRow("1950") << at("1950-06-01T12:00") << false << QStringList();
    QTest::newRow("past the signed 32-bit end") << at("2038-01-19T03:15") << true << QStringList();
    QTest::newRow("last whole minute before the end") << at("2106-02-07T06:27") << true << QStringList();
    // The opening moment's seconds stay in the value, so 06:28 itself is in
    // range or not by chance; two minutes back is in range for sure.
    QTest::newRow("just past the end") << at("2106-02-07T06:29") << false << QStringList{"down_min", "down_min"};
    QTest::newRow("2150") << at("2150-01-01T00:00") << false << QStringList{"down_y"};
}

void TestDialogEditTime::applyOnlyWithinTheClockRange()
{
    QFETCH(QDateTime, moment);
    QFETCH(bool, applicable);
    QFETCH(QStringList, backIntoRange);

    DialogEditTime dialog;
    dialog.show();
    stepTimeEditorTo(&dialog, moment.date(), moment.time().hour(), moment.time().minute());
    QCOMPARE(shownDateTime(&dialog), moment);
    QAbstractButton *apply = timeButton(&dialog, QStringLiteral("apply"));
    QCOMPARE(apply->isEnabled(), applicable);

    if (backIntoRange.isEmpty())
        return;
    for (const QString &which : backIntoRange)
        click(timeButton(&dialog, which));
    // 2149 is still out of range: a year step back is not enough there.
    QCOMPARE(apply->isEnabled(), shownDateTime(&dialog).date().year() < 2107);
}

// The dialog keeps the seconds of the moment it opened at, so the edges of
// the range are met at any fraction of a second.
void TestDialogEditTime::theClockRangeHoldsToTheMillisecond_data()
{
    QTest::addColumn<QDateTime>("moment");
    QTest::addColumn<bool>("inRange");

    auto utc = [](const char *text) { return QDateTime::fromString(QLatin1String(text), Qt::ISODateWithMs); };
    QTest::newRow("half a second before 1970") << utc("1969-12-31T23:59:59.500Z") << false;
    QTest::newRow("1970 exactly") << utc("1970-01-01T00:00:00.000Z") << true;
    QTest::newRow("the last millisecond") << utc("2106-02-07T06:28:15.999Z") << true;
    QTest::newRow("one past it") << utc("2106-02-07T06:28:16.000Z") << false;
}

void TestDialogEditTime::theClockRangeHoldsToTheMillisecond()
{
    QFETCH(QDateTime, moment);
    QFETCH(bool, inRange);
    QVERIFY(moment.isValid());
    QCOMPARE(DialogEditTime::clockCanTake(moment), inRange);
}

void TestDialogEditTime::heldButtonRepeats()
{
    DialogEditTime dialog;
    dialog.show();
    stepTimeEditorTo(&dialog, QDate(2024, 5, 10), 12, 0);
    auto *up = qobject_cast<QPushButton *>(timeButton(&dialog, QStringLiteral("up_min")));
    QCOMPARE(up->autoRepeatInterval(), 50);

    QTest::mousePress(up, Qt::LeftButton, Qt::NoModifier, up->rect().center());
    QTRY_VERIFY_WITH_TIMEOUT(shownDateTime(&dialog).time().minute() >= 3, 3000);
    QTest::mouseRelease(up, Qt::LeftButton, Qt::NoModifier, up->rect().center());
}

void TestDialogEditTime::noWidgetTakesFocus()
{
    DialogEditTime dialog;
    const QList<QAbstractButton *> buttons = dialog.findChildren<QAbstractButton *>();
    QCOMPARE(buttons.size(), 12);
    for (QAbstractButton *b : buttons)
        QVERIFY2(b->focusPolicy() == Qt::NoFocus, qPrintable(b->objectName()));
    QCOMPARE(dialog.size(), QSize(640, 320));
}

QTEST_MAIN(TestDialogEditTime)
#include "tst_dialogedittime.moc"
