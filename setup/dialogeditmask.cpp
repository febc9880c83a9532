#include "dialogeditmask.h"
#include "ui_dialogeditmask.h"

#include "octetedit.h"

DialogEditMask::DialogEditMask(const QString &caption, const QString &mask, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_DialogEditMask)
    , _mask(mask)
{
    ui->setupUi(this);
    ui->groupBox->setTitle(caption);
    updateLabels();

    // The buttons of the first three columns stay disabled and unconnected: a
    // mask moves as a whole, so only the last column's pair acts.
    connect(ui->pushButton_up_ip_4, &QAbstractButton::clicked, this, &DialogEditMask::slot_upPressed);
    connect(ui->pushButton_down_ip_4, &QAbstractButton::clicked, this, &DialogEditMask::slot_downPressed);
}

DialogEditMask::~DialogEditMask()
{
    delete ui;
}

void DialogEditMask::updateLabels()
{
    const quint32 value = OctetEdit::valueOf(_mask);
    OctetEdit::showOctets(ui, value);
    // 255.255.255.255 is a valid mask (a single host); only a first octet of 0,
    // no mask at all or an unparsable setting, holds the dialog back.
    ui->pushButton_apply->setEnabled(OctetEdit::octetAt(value, 1) != 0);
}

void DialogEditMask::slot_upPressed()
{
    _mask.setAddress(OctetEdit::stepPrefixLength(OctetEdit::valueOf(_mask), +1));
    updateLabels();
}

void DialogEditMask::slot_downPressed()
{
    _mask.setAddress(OctetEdit::stepPrefixLength(OctetEdit::valueOf(_mask), -1));
    updateLabels();
}
