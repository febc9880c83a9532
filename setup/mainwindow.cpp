#include "mainwindow.h"
#include "ui_mainwindow.h"

#include "configuration.h"
#include "dialogeditip.h"
#include "dialogeditmask.h"
#include "dialogedittime.h"

#include <QDateTime>
#include <QDebug>

namespace {
// The network labels refresh on this period: in DHCP mode that is how the
// address shows up once the client has its lease.
constexpr int UPDATE_INTERVAL_MS = 4000;

Configuration *config()
{
    return Configuration::instation();
}
} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent)
    , ui(new Ui_MainWindow)
{
    ui->setupUi(this);
    connect(&_updateTimer, &QTimer::timeout, this, &MainWindow::slot_updateTimerTick);
    _updateTimer.start(UPDATE_INTERVAL_MS);
    updateLables();
}

MainWindow::~MainWindow()
{
    delete ui;
}

// The identity labels are written once: "По умолчанию" reloads the values, but
// the header, serial number, host name and MAC address do not change while the
// panel runs.
void MainWindow::updateLables()
{
    const Configuration *c = config();
    ui->label_someText1->setText(c->_textHeaderValue1);
    ui->label_someText2->setText(c->_textHeaderValue2);
    ui->label_serialId->setText(QStringLiteral("Серийный номер: ") + c->_serialIdValue);
    ui->label_hostName->setText(QStringLiteral("Имя хоста: ") + c->_hostName);
    ui->label_macAddress->setText(QStringLiteral("MAC адрес: ") + c->_macAddress);
    // The check box's slot is connected already, so this runs it once when DHCP
    // is on; it stores the same value again.
    ui->checkBox_dhcp->setChecked(c->_dhcpEnable);
    slot_updateTimerTick();
}

void MainWindow::updateNetworkLables()
{
    const Configuration *c = config();
    const bool dhcp = c->_dhcpEnable;
    ui->checkBox_dhcp->setChecked(dhcp);
    if (dhcp) {
        // Asked anew every time: the lease arrives some time after the client
        // was started, and may change.
        const QString &eth = Configuration::DEFAULT_NETWORK_INTERFACE;
        ui->label_ip->setText(Configuration::getCurretnIpAddress(eth));
        ui->label_mask->setText(Configuration::getCurrentNetmask(eth));
        ui->label_gateway->setText(Configuration::getCurrentGatewayFromProc(eth));
    } else {
        ui->label_ip->setText(c->_netIp);
        ui->label_mask->setText(c->_netMask);
        ui->label_gateway->setText(c->_netGateway);
    }
    // Under DHCP the static values are not in use, so they cannot be edited.
    ui->groupBox_netSetup->setEnabled(!dhcp);
}

void MainWindow::slot_updateTimerTick()
{
    updateNetworkLables();
    ui->pushButton_timeDateSetup->setText(QDateTime::currentDateTime().toString(QStringLiteral("⚙ yyyy.MM.dd hh:mm")));
    ui->pushButton_goToCmd->setVisible(config()->_showCmdButton);
}

void MainWindow::on_checkBox_dhcp_stateChanged(int arg1)
{
    qDebug("MainWindow::on_checkBox_dhcp_stateChanged() arg1[%i]", arg1);
    // Only the setting changes; the interface follows on "Применить" or "Сохранить".
    config()->_dhcpEnable = arg1 != 0;
    updateNetworkLables();
}

void MainWindow::on_pushButton_ipAddrEdit_clicked()
{
    DialogEditIp dialog(QStringLiteral("Изменение IP адреса:"), config()->_netIp, this);
    if (dialog.exec() == QDialog::Accepted) {
        config()->_netIp = dialog._address.toString();
        updateNetworkLables();
    }
}

void MainWindow::on_pushButton_gatewayAddrEdit_clicked()
{
    DialogEditIp dialog(QStringLiteral("Изменение IP адреса шлюза:"), config()->_netGateway, this);
    if (dialog.exec() == QDialog::Accepted) {
        config()->_netGateway = dialog._address.toString();
        updateNetworkLables();
    }
}

void MainWindow::on_pushButton_ipMaskEdit_clicked()
{
    DialogEditMask dialog(QStringLiteral("Изменение маски сети:"), config()->_netMask, this);
    if (dialog.exec() == QDialog::Accepted) {
        config()->_netMask = dialog._mask.toString();
        updateNetworkLables();
    }
}

void MainWindow::on_pushButton_timeDateSetup_clicked()
{
    // The dialog sets the clocks itself; the window only shows the new time.
    DialogEditTime dialog(this);
    if (dialog.exec() == QDialog::Accepted) {
        qDebug("MainWindow::on_pushButton_timeDateSetup_clicked() Accepted");
        slot_updateTimerTick();
    }
}

void MainWindow::on_pushButton_apply_clicked()
{
    // Applies the current, possibly unsaved, settings; a restart forgets them.
    config()->initNetwork();
}

void MainWindow::on_pushButton_goToCmd_clicked()
{
    // Leaves without the browser, so that the console is free for a service login.
    Configuration::applicationExit();
}

void MainWindow::on_pushButton_defaultSettings_clicked()
{
    // Reads the files over the edited values. The labels follow at the next
    // tick, like every other change that does not come from this window.
    config()->init();
}

void MainWindow::on_pushButton_save_clicked()
{
    Configuration *c = config();
    c->saveConfiguration();
    c->initNetwork();
}

void MainWindow::on_pushButton_exit_clicked()
{
    config()->startBrowser();
    Configuration::applicationExit();
}

void MainWindow::on_pushButton_reboot_clicked()
{
    // Nothing is saved first: edits that were not saved are gone after the reboot.
    Configuration::doReboot();
    Configuration::applicationExit();
}
