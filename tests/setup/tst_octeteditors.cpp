// The address and netmask editors: how "+" and "-" step the value, when
// "Применить" may be pressed, and what the caller gets back.

#include "dialogeditip.h"
#include "dialogeditmask.h"
#include "screenhelpers.h"

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

using ScreenTest::click;
using ScreenTest::clickTimes;

namespace {

template <class Dialog>
QString shownOctets(Dialog &dialog)
{
    QStringList octets;
    for (int i = 1; i <= 4; ++i)
        octets << dialog.template findChild<QLabel *>(QStringLiteral("label_ip%1").arg(i))->text();
    return octets.join(QLatin1Char('.'));
}

// "up_ip_4" and the like: the step buttons by their place in the grid.
QPushButton *stepButton(QWidget &dialog, const QString &which)
{
    return ScreenTest::child<QPushButton>(dialog, QStringLiteral("pushButton_") + which);
}

} // namespace

class TestOctetEditors : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void addressStepsOneOctetWithoutWrapOrCarry_data();
    void addressStepsOneOctetWithoutWrapOrCarry();
    void addressApplyNeedsFirstOctetFrom1To254_data();
    void addressApplyNeedsFirstOctetFrom1To254();
    void addressShowsCaptionAndStartValue();
    void addressHeldButtonRepeats();
    void applyAcceptsAndCancelRejects();

    void maskStepsPrefixLength_data();
    void maskStepsPrefixLength();
    void maskApplyNeedsNonZeroFirstOctet_data();
    void maskApplyNeedsNonZeroFirstOctet();
    void maskFirstThreeColumnsAreInert();

    void noWidgetTakesFocus();
};

void TestOctetEditors::initTestCase()
{
    ScreenTest::quietOffscreenWarnings();
}

void TestOctetEditors::addressStepsOneOctetWithoutWrapOrCarry_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("presses");
    QTest::addColumn<QString>("expected");

    // clang-format off
    QTest::newRow("fourth up four times") << "192.168.1.10" << "up_ip_4" << 4 << "192.168.1.14";
    QTest::newRow("first up") << "192.168.1.10" << "up_ip_1" << 1 << "193.168.1.10";
    QTest::newRow("second down") << "192.168.1.10" << "down_ip_2" << 3 << "192.165.1.10";
    QTest::newRow("third up") << "192.168.1.10" << "up_ip_3" << 2 << "192.168.3.10";
    QTest::newRow("255 stays on +, no carry") << "10.0.255.255" << "up_ip_4" << 3 << "10.0.255.255";
    QTest::newRow("third 255 stays, fourth untouched") << "10.0.255.7" << "up_ip_3" << 1 << "10.0.255.7";
    QTest::newRow("0 stays on -, no borrow") << "10.1.0.0" << "down_ip_4" << 2 << "10.1.0.0";
    QTest::newRow("first 0 stays on -") << "0.1.2.3" << "down_ip_1" << 1 << "0.1.2.3";
    QTest::newRow("up to the top and stop") << "10.0.0.250" << "up_ip_4" << 9 << "10.0.0.255";
    QTest::newRow("no leading zeros") << "10.0.0.0" << "up_ip_4" << 5 << "10.0.0.5";
    QTest::newRow("empty text is 0.0.0.0") << "" << "up_ip_2" << 1 << "0.1.0.0";
    QTest::newRow("malformed text is 0.0.0.0") << "300.1.1.1" << "up_ip_4" << 1 << "0.0.0.1";
    QTest::newRow("IPv6 text is 0.0.0.0") << "::1" << "up_ip_1" << 1 << "1.0.0.0";
    // clang-format on
}

void TestOctetEditors::addressStepsOneOctetWithoutWrapOrCarry()
{
    QFETCH(QString, start);
    QFETCH(QString, button);
    QFETCH(int, presses);
    QFETCH(QString, expected);

    DialogEditIp dialog(QStringLiteral("Изменение IP адреса:"), start);
    dialog.show();
    clickTimes(stepButton(dialog, button), presses);

    QCOMPARE(shownOctets(dialog), expected);
    QCOMPARE(dialog._address.toString(), expected);
}

void TestOctetEditors::addressApplyNeedsFirstOctetFrom1To254_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("presses");
    QTest::addColumn<bool>("applicable");

    // clang-format off
    QTest::newRow("192.168.1.10") << "192.168.1.10" << QString() << 0 << true;
    QTest::newRow("127.0.0.1") << "127.0.0.1" << QString() << 0 << true;
    QTest::newRow("224.0.0.1") << "224.0.0.1" << QString() << 0 << true;
    QTest::newRow("0.0.0.0") << "0.0.0.0" << QString() << 0 << false;
    QTest::newRow("empty") << "" << QString() << 0 << false;
    QTest::newRow("malformed") << "192.168.1.x" << QString() << 0 << false;
    QTest::newRow("255.255.255.255") << "255.255.255.255" << QString() << 0 << false;
    QTest::newRow("0 stepped to 1") << "0.0.0.0" << "up_ip_1" << 1 << true;
    QTest::newRow("255 stepped to 254") << "255.255.255.255" << "down_ip_1" << 1 << true;
    QTest::newRow("1 stepped to 0") << "1.2.3.4" << "down_ip_1" << 1 << false;
    QTest::newRow("254 stepped to 255") << "254.2.3.4" << "up_ip_1" << 1 << false;
    QTest::newRow("other octets do not matter") << "10.0.0.0" << "down_ip_4" << 1 << true;
    // clang-format on
}

void TestOctetEditors::addressApplyNeedsFirstOctetFrom1To254()
{
    QFETCH(QString, start);
    QFETCH(QString, button);
    QFETCH(int, presses);
    QFETCH(bool, applicable);

    DialogEditIp dialog(QStringLiteral("Изменение IP адреса:"), start);
    dialog.show();
    if (!button.isEmpty())
        clickTimes(stepButton(dialog, button), presses);

    QCOMPARE(stepButton(dialog, QStringLiteral("apply"))->isEnabled(), applicable);
}

void TestOctetEditors::addressShowsCaptionAndStartValue()
{
    DialogEditIp dialog(QStringLiteral("Изменение IP адреса шлюза:"), QStringLiteral("192.168.1.1"));
    dialog.show();
    QCOMPARE(dialog.findChild<QGroupBox *>(QStringLiteral("groupBox"))->title(),
             QStringLiteral("Изменение IP адреса шлюза:"));
    // The layout's placeholder "255" never shows.
    QCOMPARE(shownOctets(dialog), QStringLiteral("192.168.1.1"));
    QCOMPARE(dialog.size(), QSize(640, 320));
}

// The keyboard pointer holds a button down while the key is held; the button's
// own auto-repeat steps on every 50 ms.
void TestOctetEditors::addressHeldButtonRepeats()
{
    DialogEditIp dialog(QStringLiteral("Изменение IP адреса:"), QStringLiteral("10.0.0.0"));
    dialog.show();
    QPushButton *up = stepButton(dialog, QStringLiteral("up_ip_4"));
    QVERIFY(up->autoRepeat());
    QCOMPARE(up->autoRepeatInterval(), 50);

    QTest::mousePress(up, Qt::LeftButton, Qt::NoModifier, up->rect().center());
    QTRY_VERIFY_WITH_TIMEOUT(dialog._address.toIPv4Address() >= QHostAddress("10.0.0.3").toIPv4Address(), 3000);
    QTest::mouseRelease(up, Qt::LeftButton, Qt::NoModifier, up->rect().center());
    const QString released = dialog._address.toString();
    QTest::qWait(200);
    QCOMPARE(dialog._address.toString(), released);
}

void TestOctetEditors::applyAcceptsAndCancelRejects()
{
    {
        DialogEditIp dialog(QStringLiteral("Изменение IP адреса:"), QStringLiteral("192.168.1.10"));
        dialog.show();
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        click(stepButton(dialog, QStringLiteral("up_ip_4")));
        click(stepButton(dialog, QStringLiteral("apply")));
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog._address.toString(), QStringLiteral("192.168.1.11"));
    }
    {
        DialogEditIp dialog(QStringLiteral("Изменение IP адреса:"), QStringLiteral("192.168.1.10"));
        dialog.show();
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        click(stepButton(dialog, QStringLiteral("cancel")));
        QCOMPARE(rejected.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
    }
    {
        // A disabled "Применить" cannot end the dialog.
        DialogEditIp dialog(QStringLiteral("Изменение IP адреса:"), QString());
        dialog.show();
        QSignalSpy finished(&dialog, &QDialog::finished);
        click(stepButton(dialog, QStringLiteral("apply")));
        QCOMPARE(finished.count(), 0);
        QVERIFY(dialog.isVisible());
    }
    {
        DialogEditMask dialog(QStringLiteral("Изменение маски сети:"), QStringLiteral("255.255.255.0"));
        dialog.show();
        QSignalSpy accepted(&dialog, &QDialog::accepted);
        click(stepButton(dialog, QStringLiteral("down_ip_4")));
        click(stepButton(dialog, QStringLiteral("apply")));
        QCOMPARE(accepted.count(), 1);
        QCOMPARE(dialog._mask.toString(), QStringLiteral("255.255.254.0"));
    }
    {
        DialogEditMask dialog(QStringLiteral("Изменение маски сети:"), QStringLiteral("255.255.255.0"));
        dialog.show();
        QSignalSpy rejected(&dialog, &QDialog::rejected);
        click(stepButton(dialog, QStringLiteral("cancel")));
        QCOMPARE(rejected.count(), 1);
    }
}

void TestOctetEditors::maskStepsPrefixLength_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("button");
    QTest::addColumn<int>("presses");
    QTest::addColumn<QString>("expected");

    // clang-format off
    QTest::newRow("/24 +") << "255.255.255.0" << "up_ip_4" << 1 << "255.255.255.128";
    QTest::newRow("/24 -") << "255.255.255.0" << "down_ip_4" << 1 << "255.255.254.0";
    QTest::newRow("/24 - across an octet") << "255.255.255.0" << "down_ip_4" << 8 << "255.255.0.0";
    QTest::newRow("/32 + stays") << "255.255.255.255" << "up_ip_4" << 1 << "255.255.255.255";
    QTest::newRow("/1 - stays") << "128.0.0.0" << "down_ip_4" << 1 << "128.0.0.0";
    QTest::newRow("/0 + gives /1") << "0.0.0.0" << "up_ip_4" << 1 << "128.0.0.0";
    QTest::newRow("/0 - gives /1") << "0.0.0.0" << "down_ip_4" << 1 << "128.0.0.0";
    QTest::newRow("unparsable - gives /1") << "mask" << "down_ip_4" << 1 << "128.0.0.0";
    QTest::newRow("non-contiguous +") << "255.0.255.0" << "up_ip_4" << 1 << "255.255.128.0";
    QTest::newRow("non-contiguous -") << "255.0.255.0" << "down_ip_4" << 1 << "255.254.0.0";
    QTest::newRow("up to /32 and stop") << "255.255.255.0" << "up_ip_4" << 12 << "255.255.255.255";
    // clang-format on
}

void TestOctetEditors::maskStepsPrefixLength()
{
    QFETCH(QString, start);
    QFETCH(QString, button);
    QFETCH(int, presses);
    QFETCH(QString, expected);

    DialogEditMask dialog(QStringLiteral("Изменение маски сети:"), start);
    dialog.show();
    clickTimes(stepButton(dialog, button), presses);

    QCOMPARE(shownOctets(dialog), expected);
    QCOMPARE(dialog._mask.toString(), expected);
}

void TestOctetEditors::maskApplyNeedsNonZeroFirstOctet_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<bool>("applicable");

    // clang-format off
    QTest::newRow("255.255.255.255") << "255.255.255.255" << true;
    QTest::newRow("255.255.255.0") << "255.255.255.0" << true;
    QTest::newRow("128.0.0.0") << "128.0.0.0" << true;
    QTest::newRow("0.0.0.0") << "0.0.0.0" << false;
    QTest::newRow("0.255.255.0") << "0.255.255.0" << false;
    QTest::newRow("empty") << "" << false;
    // clang-format on
}

void TestOctetEditors::maskApplyNeedsNonZeroFirstOctet()
{
    QFETCH(QString, start);
    QFETCH(bool, applicable);

    DialogEditMask dialog(QStringLiteral("Изменение маски сети:"), start);
    dialog.show();
    QCOMPARE(shownOctets(dialog),
             QHostAddress(start).protocol() == QAbstractSocket::IPv4Protocol ? start : QStringLiteral("0.0.0.0"));
    QCOMPARE(stepButton(dialog, QStringLiteral("apply"))->isEnabled(), applicable);
}

void TestOctetEditors::maskFirstThreeColumnsAreInert()
{
    DialogEditMask dialog(QStringLiteral("Изменение маски сети:"), QStringLiteral("255.255.255.0"));
    dialog.show();
    for (int column = 1; column <= 3; ++column) {
        for (const char *direction : {"up", "down"}) {
            QPushButton *inert = stepButton(dialog, QStringLiteral("%1_ip_%2").arg(direction).arg(column));
            QVERIFY2(!inert->isEnabled(), qPrintable(inert->objectName()));
            click(inert);
            // Even a click that reached it, as an enabled button would take it,
            // is connected to nothing.
            inert->setEnabled(true);
            click(inert);
            QCOMPARE(dialog._mask.toString(), QStringLiteral("255.255.255.0"));
        }
    }
    QVERIFY(stepButton(dialog, QStringLiteral("up_ip_4"))->isEnabled());
}

// The panel is driven by the keyboard pointer: a widget that took the focus
// would swallow the arrow keys that move it.
void TestOctetEditors::noWidgetTakesFocus()
{
    DialogEditIp address(QStringLiteral("Изменение IP адреса:"), QStringLiteral("10.0.0.1"));
    DialogEditMask mask(QStringLiteral("Изменение маски сети:"), QStringLiteral("255.0.0.0"));
    for (QDialog *dialog : {static_cast<QDialog *>(&address), static_cast<QDialog *>(&mask)}) {
        const QList<QAbstractButton *> buttons = dialog->findChildren<QAbstractButton *>();
        QCOMPARE(buttons.size(), 10);
        for (QAbstractButton *b : buttons)
            QVERIFY2(b->focusPolicy() == Qt::NoFocus, qPrintable(b->objectName()));
    }
}

QTEST_MAIN(TestOctetEditors)
#include "tst_octeteditors.moc"
