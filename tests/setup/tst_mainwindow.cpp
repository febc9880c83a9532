// The main settings window on this host: what it shows from the settings, how
// the DHCP check box and the three editors change the settings, and how
// "По умолчанию" and the refresh timer bring the files' values back. Nothing
// here presses a button that runs a command; those are in tst_screenactions,
// inside the sandbox.

#include "configuration.h"
#include "dialogeditip.h"
#include "dialogeditmask.h"
#include "mainwindow.h"
#include "screenhelpers.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QMetaMethod>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSysInfo>
#include <QtTest>

using ScreenTest::besideExecutable;
using ScreenTest::button;
using ScreenTest::child;
using ScreenTest::click;
using ScreenTest::keptMessages;
using ScreenTest::text;

namespace {

int messageCount(const QString &text)
{
    return int(keptMessages().count(text));
}

const QString checkBoxSlotChecked = QStringLiteral("MainWindow::on_checkBox_dhcp_stateChanged() arg1[2]");
const QString checkBoxSlotUnchecked = QStringLiteral("MainWindow::on_checkBox_dhcp_stateChanged() arg1[0]");

QJsonObject storedSettings()
{
    return QJsonObject{
        {"browser_start_command", ""},  {"serial_id_file_path", besideExecutable("serial.txt")},
        {"ip_address", "192.168.1.10"}, {"ip_mask", "255.255.255.0"},
        {"ip_gateway", "192.168.1.1"},  {"dhcp_enable", false},
        {"show_cmd_button", false},
    };
}

// One timer period and a margin: the window refreshes every 4000 ms.
constexpr int NEXT_TICK_MS = 5500;

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void staticModeShowsStoredSettings();
    void deviceValuesAreShownAsTheyAreHeadersMayCarryMarkup();
    void dhcpModeAtStartRunsCheckBoxSlotOnce();
    void checkBoxSwitchesDisplayStateAtOnce();
    void editorsStoreAcceptedValues_data();
    void editorsStoreAcceptedValues();
    void defaultsReadTheFilesAgainAtNextTick();
    void commandLineButtonFollowsSettingAndLeaves();
    void slotsAndFocusAsThePointerNeedsThem();
};

void TestMainWindow::initTestCase()
{
    ScreenTest::quietOffscreenWarnings();
    ScreenTest::keepMessages();
    QVERIFY(ScreenTest::writeSettings(storedSettings()));
    QVERIFY(ScreenTest::writeFile(besideExecutable("header.txt"),
                                  "ООО «Пример» — операторская панель\nЛиния 2, участок сборки\n"));
    QVERIFY(ScreenTest::writeFile(besideExecutable("serial.txt"), "PNL-2024-000137\n"));
    Configuration *c = Configuration::instation();
    QCOMPARE(c->_netIp, QStringLiteral("192.168.1.10"));
}

// Every test starts from the files as written above, re-read as the
// defaults button does.
void TestMainWindow::init()
{
    QVERIFY(ScreenTest::writeSettings(storedSettings()));
    Configuration::instation()->init();
    keptMessages().clear();
}

void TestMainWindow::staticModeShowsStoredSettings()
{
    MainWindow window;
    window.show();
    const Configuration *c = Configuration::instation();

    QCOMPARE(text(window, "label_someText1"), QStringLiteral("ООО «Пример» — операторская панель"));
    QCOMPARE(text(window, "label_someText2"), QStringLiteral("Линия 2, участок сборки"));
    QCOMPARE(text(window, "label_serialId"), QStringLiteral("Серийный номер: PNL-2024-000137"));
    QCOMPARE(text(window, "label_hostName"), QStringLiteral("Имя хоста: ") + QSysInfo::machineHostName());
    QCOMPARE(text(window, "label_macAddress"), QStringLiteral("MAC адрес: ") + c->_macAddress);

    QCOMPARE(text(window, "label_ip"), QStringLiteral("192.168.1.10"));
    QCOMPARE(text(window, "label_mask"), QStringLiteral("255.255.255.0"));
    QCOMPARE(text(window, "label_gateway"), QStringLiteral("192.168.1.1"));
    QVERIFY(!child<QCheckBox>(window, "checkBox_dhcp")->isChecked());
    QVERIFY(child<QGroupBox>(window, "groupBox_netSetup")->isEnabled());
    QVERIFY(button(window, "pushButton_ipAddrEdit")->isEnabled());
    QCOMPARE(messageCount(checkBoxSlotChecked) + messageCount(checkBoxSlotUnchecked), 0);

    // The clock replaces "Время ⚙" before the window is ever shown.
    const QString clock = button(window, "pushButton_timeDateSetup")->text();
    QVERIFY2(QRegularExpression(QStringLiteral("^⚙ \\d{4}\\.\\d{2}\\.\\d{2} \\d{2}:\\d{2}$")).match(clock).hasMatch(),
             qPrintable(clock));
    const QDateTime shown = QDateTime::fromString(clock.mid(2), QStringLiteral("yyyy.MM.dd hh:mm"));
    QVERIFY(qAbs(shown.secsTo(QDateTime::currentDateTime())) < 120);

    // Hidden, not removed: it keeps its place in the row for when it is wanted.
    QVERIFY(!button(window, "pushButton_goToCmd")->isVisible());
    QCOMPARE(button(window, "pushButton_goToCmd")->parentWidget(), button(window, "pushButton_reboot")->parentWidget());
}

// Serial, host name, MAC and the stored addresses are data, not markup: one that
// looks like HTML is shown as written. An image tag in rich text would make Qt
// load the file it names (a 2 GiB read for /dev/zero, a hang on a FIFO); here
// it names a picture 400 pixels high. The header lines are the device
// builder's own text and keep their markup.
void TestMainWindow::deviceValuesAreShownAsTheyAreHeadersMayCarryMarkup()
{
    const QString picture = besideExecutable("tall.png");
    QImage tall(8, 400, QImage::Format_RGB32);
    tall.fill(Qt::black);
    QVERIFY(tall.save(picture));
    auto removePicture = qScopeGuard([picture] { QFile::remove(picture); });
    const QString image = "<img src=" + picture + ">";
    Configuration *c = Configuration::instation();
    c->_textHeaderValue1 = "<b>Цех 3</b>";
    c->_serialIdValue = image;
    c->_hostName = "<i>panel</i>";
    c->_macAddress = "<u>02:50:41:4e:45:4c</u>";
    c->_netIp = image;
    c->_netMask = "<b>255.255.255.0</b>";
    c->_netGateway = "&lt;192.168.1.1&gt;";
    MainWindow window;
    window.show();

    for (const char *name :
         {"label_serialId", "label_hostName", "label_macAddress", "label_ip", "label_mask", "label_gateway"}) {
        QLabel *label = child<QLabel>(window, name);
        const QFontMetrics metrics(label->font());
        QVERIFY2(label->sizeHint().height() < 3 * metrics.height(), name);
        QVERIFY2(label->sizeHint().width() >= metrics.horizontalAdvance(label->text()), name);
    }
    QCOMPARE(text(window, "label_serialId"), "Серийный номер: " + image);
    QCOMPARE(text(window, "label_gateway"), QStringLiteral("&lt;192.168.1.1&gt;"));

    QLabel *header = child<QLabel>(window, "label_someText1");
    QVERIFY(header->sizeHint().width() < QFontMetrics(header->font()).horizontalAdvance(header->text()));
}

void TestMainWindow::dhcpModeAtStartRunsCheckBoxSlotOnce()
{
    Configuration *c = Configuration::instation();
    c->_dhcpEnable = true;
    MainWindow window;
    window.show();

    QCOMPARE(messageCount(checkBoxSlotChecked), 1);
    QCOMPARE(messageCount(checkBoxSlotUnchecked), 0);
    QVERIFY(c->_dhcpEnable);
    QVERIFY(child<QCheckBox>(window, "checkBox_dhcp")->isChecked());
    QVERIFY(!child<QGroupBox>(window, "groupBox_netSetup")->isEnabled());
    QVERIFY(!button(window, "pushButton_ipAddrEdit")->isEnabled());
    QVERIFY(!button(window, "pushButton_ipMaskEdit")->isEnabled());
    QVERIFY(!button(window, "pushButton_gatewayAddrEdit")->isEnabled());

    // The live values of this host's eth0 (or nothing, if it has none), read
    // only; the sandbox test checks them against a real lease.
    const QString &eth = Configuration::DEFAULT_NETWORK_INTERFACE;
    QCOMPARE(text(window, "label_ip"), Configuration::getCurretnIpAddress(eth));
    QCOMPARE(text(window, "label_mask"), Configuration::getCurrentNetmask(eth));
    QCOMPARE(text(window, "label_gateway"), Configuration::getCurrentGatewayFromProc(eth));
}

void TestMainWindow::checkBoxSwitchesDisplayStateAtOnce()
{
    Configuration *c = Configuration::instation();
    MainWindow window;
    window.show();
    QCheckBox *dhcp = child<QCheckBox>(window, "checkBox_dhcp");

    click(dhcp);
    QVERIFY(dhcp->isChecked());
    QCOMPARE(messageCount(checkBoxSlotChecked), 1);
    QVERIFY(c->_dhcpEnable);
    QVERIFY(!child<QGroupBox>(window, "groupBox_netSetup")->isEnabled());
    QCOMPARE(text(window, "label_ip"), Configuration::getCurretnIpAddress(Configuration::DEFAULT_NETWORK_INTERFACE));

    click(dhcp);
    QVERIFY(!dhcp->isChecked());
    QCOMPARE(messageCount(checkBoxSlotUnchecked), 1);
    QVERIFY(!c->_dhcpEnable);
    QVERIFY(child<QGroupBox>(window, "groupBox_netSetup")->isEnabled());
    QCOMPARE(text(window, "label_ip"), QStringLiteral("192.168.1.10"));
    QCOMPARE(text(window, "label_gateway"), QStringLiteral("192.168.1.1"));

    // The switch alone changes the setting, not the file.
    QCOMPARE(ScreenTest::readSettings().value("dhcp_enable").toBool(), false);
}

void TestMainWindow::editorsStoreAcceptedValues_data()
{
    QTest::addColumn<QString>("editButton");
    QTest::addColumn<QString>("stepButton");
    QTest::addColumn<int>("presses");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("label");
    QTest::addColumn<QString>("expected");

    // clang-format off
    QTest::newRow("address accepted") << "pushButton_ipAddrEdit" << "pushButton_up_ip_4" << 4 << true
                                      << "label_ip" << "192.168.1.14";
    QTest::newRow("address cancelled") << "pushButton_ipAddrEdit" << "pushButton_up_ip_4" << 4 << false
                                       << "label_ip" << "192.168.1.10";
    QTest::newRow("gateway accepted") << "pushButton_gatewayAddrEdit" << "pushButton_down_ip_3" << 1 << true
                                      << "label_gateway" << "192.168.0.1";
    QTest::newRow("gateway cancelled") << "pushButton_gatewayAddrEdit" << "pushButton_down_ip_3" << 1 << false
                                       << "label_gateway" << "192.168.1.1";
    QTest::newRow("mask accepted") << "pushButton_ipMaskEdit" << "pushButton_down_ip_4" << 8 << true
                                   << "label_mask" << "255.255.0.0";
    QTest::newRow("mask cancelled") << "pushButton_ipMaskEdit" << "pushButton_down_ip_4" << 8 << false
                                    << "label_mask" << "255.255.255.0";
    // clang-format on
}

void TestMainWindow::editorsStoreAcceptedValues()
{
    QFETCH(QString, editButton);
    QFETCH(QString, stepButton);
    QFETCH(int, presses);
    QFETCH(bool, accept);
    QFETCH(QString, label);
    QFETCH(QString, expected);

    MainWindow window;
    window.show();
    const bool mask = editButton == QLatin1String("pushButton_ipMaskEdit");
    QString caption;
    bool opened = false;
    auto operate = [&](QDialog *dialog) {
        caption = dialog->findChild<QGroupBox *>(QStringLiteral("groupBox"))->title();
        ScreenTest::clickTimes(dialog->findChild<QPushButton *>(stepButton), presses);
        click(dialog->findChild<QPushButton *>(accept ? QStringLiteral("pushButton_apply")
                                                      : QStringLiteral("pushButton_cancel")));
    };
    if (mask)
        ScreenTest::whenDialogOpens<DialogEditMask>(&window, operate, &opened);
    else
        ScreenTest::whenDialogOpens<DialogEditIp>(&window, operate, &opened);
    click(button(window, qPrintable(editButton)));

    QVERIFY2(opened, "the editor did not open");
    // Shown at once, not at the next tick.
    QCOMPARE(text(window, qPrintable(label)), expected);
    const Configuration *c = Configuration::instation();
    const QString stored = label == QLatin1String("label_ip")     ? c->_netIp
                           : label == QLatin1String("label_mask") ? c->_netMask
                                                                  : c->_netGateway;
    QCOMPARE(stored, expected);
    const QString expectedCaption
        = editButton == QLatin1String("pushButton_ipAddrEdit") ? QStringLiteral("Изменение IP адреса:")
          : editButton == QLatin1String("pushButton_gatewayAddrEdit") ? QStringLiteral("Изменение IP адреса шлюза:")
                                                                      : QStringLiteral("Изменение маски сети:");
    QCOMPARE(caption, expectedCaption);
    // The dialog lived on the slot's stack.
    QVERIFY(!window.findChild<QDialog *>());
}

void TestMainWindow::defaultsReadTheFilesAgainAtNextTick()
{
    Configuration *c = Configuration::instation();
    MainWindow window;
    window.show();

    ScreenTest::whenDialogOpens<DialogEditIp>(&window, [](DialogEditIp *dialog) {
        click(dialog->findChild<QPushButton *>(QStringLiteral("pushButton_up_ip_4")));
        click(dialog->findChild<QPushButton *>(QStringLiteral("pushButton_apply")));
    });
    click(button(window, "pushButton_ipAddrEdit"));
    QCOMPARE(text(window, "label_ip"), QStringLiteral("192.168.1.11"));
    click(child<QCheckBox>(window, "checkBox_dhcp"));
    QVERIFY(c->_dhcpEnable);

    // A header changed on disk is read, but the identity labels keep their texts.
    QVERIFY(ScreenTest::writeFile(besideExecutable("header.txt"), "Другая строка\n\n"));
    keptMessages().clear();
    click(button(window, "pushButton_defaultSettings"));

    QCOMPARE(c->_netIp, QStringLiteral("192.168.1.10"));
    QVERIFY(!c->_dhcpEnable);
    QCOMPARE(c->_textHeaderValue1, QStringLiteral("Другая строка"));
    // The window does not refresh on its own account...
    QVERIFY(child<QCheckBox>(window, "checkBox_dhcp")->isChecked());
    // ...the timer does: the check box follows, its slot stores the same value
    // once, and the static values come back.
    QTRY_VERIFY_WITH_TIMEOUT(!child<QCheckBox>(window, "checkBox_dhcp")->isChecked(), NEXT_TICK_MS);
    QCOMPARE(text(window, "label_ip"), QStringLiteral("192.168.1.10"));
    QVERIFY(child<QGroupBox>(window, "groupBox_netSetup")->isEnabled());
    QCOMPARE(messageCount(checkBoxSlotUnchecked), 1);
    QVERIFY(!c->_dhcpEnable);
    QCOMPARE(text(window, "label_someText1"), QStringLiteral("ООО «Пример» — операторская панель"));

    QVERIFY(ScreenTest::writeFile(besideExecutable("header.txt"),
                                  "ООО «Пример» — операторская панель\nЛиния 2, участок сборки\n"));
}

void TestMainWindow::commandLineButtonFollowsSettingAndLeaves()
{
    MainWindow window;
    window.show();
    QAbstractButton *goToCmd = button(window, "pushButton_goToCmd");
    QVERIFY(!goToCmd->isVisible());

    QJsonObject settings = storedSettings();
    settings["show_cmd_button"] = true;
    QVERIFY(ScreenTest::writeSettings(settings));
    click(button(window, "pushButton_defaultSettings"));
    QTRY_VERIFY_WITH_TIMEOUT(goToCmd->isVisible(), NEXT_TICK_MS);

    // "Командная строка" only ends the event loop, with 0.
    QCOMPARE(ScreenTest::execWith([goToCmd] { click(goToCmd); }), 0);
}

// The slots in their fixed order (the meta-object's method table is part of
// the window's interface); and no widget may take the focus, or it would
// swallow the keys that move the pointer.
void TestMainWindow::slotsAndFocusAsThePointerNeedsThem()
{
    MainWindow window;
    const QMetaObject *meta = window.metaObject();
    QStringList slotNames;
    for (int i = meta->methodOffset(); i < meta->methodCount(); ++i)
        slotNames << QString::fromLatin1(meta->method(i).methodSignature());
    QCOMPARE(slotNames, (QStringList{"slot_updateTimerTick()", "on_checkBox_dhcp_stateChanged(int)",
                                     "on_pushButton_ipAddrEdit_clicked()", "on_pushButton_gatewayAddrEdit_clicked()",
                                     "on_pushButton_ipMaskEdit_clicked()", "on_pushButton_timeDateSetup_clicked()",
                                     "on_pushButton_apply_clicked()", "on_pushButton_goToCmd_clicked()",
                                     "on_pushButton_defaultSettings_clicked()", "on_pushButton_save_clicked()",
                                     "on_pushButton_exit_clicked()", "on_pushButton_reboot_clicked()"}));

    const QList<QAbstractButton *> buttons = window.findChildren<QAbstractButton *>();
    QCOMPARE(buttons.size(), 12);
    for (QAbstractButton *b : buttons)
        QVERIFY2(b->focusPolicy() == Qt::NoFocus, qPrintable(b->objectName()));
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
