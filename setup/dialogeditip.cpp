#include "dialogeditip.h"
#include "ui_dialogeditip.h"

#include "octetedit.h"

DialogEditIp::DialogEditIp(const QString &caption, const QString &address, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_DialogEditIp)
    , _address(address)
{
    ui->setupUi(this);
    ui->groupBox->setTitle(caption);
    updateLabels();

    for (QPushButton *up :
         {ui->pushButton_up_ip_1, ui->pushButton_up_ip_2, ui->pushButton_up_ip_3, ui->pushButton_up_ip_4})
        connect(up, &QAbstractButton::clicked, this, &DialogEditIp::slot_upPressed);
    for (QPushButton *down :
         {ui->pushButton_down_ip_1, ui->pushButton_down_ip_2, ui->pushButton_down_ip_3, ui->pushButton_down_ip_4})
        connect(down, &QAbstractButton::clicked, this, &DialogEditIp::slot_downPressed);
}

DialogEditIp::~DialogEditIp()
{
    delete ui;
}

void DialogEditIp::updateLabels()
{
    const quint32 value = OctetEdit::valueOf(_address);
    OctetEdit::showOctets(ui, value);
    // A first octet of 0 or 255 is never a usable host or gateway address; it is
    // also what an empty or malformed setting shows up as.
    const int first = OctetEdit::octetAt(value, 1);
    ui->pushButton_apply->setEnabled(first != 0 && first != 255);
}

void DialogEditIp::slot_upPressed()
{
    stepOctetNamedBySender(QStringLiteral("pushButton_up_ip_"), +1);
}

void DialogEditIp::slot_downPressed()
{
    stepOctetNamedBySender(QStringLiteral("pushButton_down_ip_"), -1);
}

// The buttons carry their octet's number at the end of their object names;
// whatever does not name octets 1 to 3 steps the fourth.
void DialogEditIp::stepOctetNamedBySender(const QString &namePrefix, int delta)
{
    const QString name = sender() ? sender()->objectName() : QString();
    int octet = QString(name).remove(namePrefix).toInt();
    if (octet < 1 || octet > 4)
        octet = 4;
    _address.setAddress(OctetEdit::stepOctet(OctetEdit::valueOf(_address), octet, delta));
    updateLabels();
}
