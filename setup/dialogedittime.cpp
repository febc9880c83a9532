#include "dialogedittime.h"
#include "ui_dialogedittime.h"

#include "configuration.h"

DialogEditTime::DialogEditTime(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui_DialogEditTime)
{
    ui->setupUi(this);

    for (QPushButton *up :
         {ui->pushButton_up_y, ui->pushButton_up_m, ui->pushButton_up_d, ui->pushButton_up_h, ui->pushButton_up_min})
        connect(up, &QAbstractButton::clicked, this, &DialogEditTime::slot_upPressed);
    for (QPushButton *down : {ui->pushButton_down_y, ui->pushButton_down_m, ui->pushButton_down_d,
                              ui->pushButton_down_h, ui->pushButton_down_min})
        connect(down, &QAbstractButton::clicked, this, &DialogEditTime::slot_downPressed);

    _dateTime = QDateTime::currentDateTime();
    updateLabels();
}

DialogEditTime::~DialogEditTime()
{
    delete ui;
}

bool DialogEditTime::clockCanTake(const QDateTime &moment)
{
    if (!moment.isValid())
        return false;
    // In milliseconds: whole seconds round towards zero, and would let the
    // last second before 1970 through as 0.
    const qint64 msecs = moment.toMSecsSinceEpoch();
    return msecs >= 0 && msecs / 1000 <= qint64(0xFFFFFFFFu);
}

void DialogEditTime::updateLabels()
{
    ui->label_1->setText(_dateTime.toString(QStringLiteral("yyyy")));
    ui->label_2->setText(_dateTime.toString(QStringLiteral("MM")));
    ui->label_3->setText(_dateTime.toString(QStringLiteral("dd")));
    ui->label_4->setText(_dateTime.toString(QStringLiteral("hh")));
    ui->label_5->setText(_dateTime.toString(QStringLiteral("mm")));
    ui->pushButton_apply->setEnabled(clockCanTake(_dateTime));
}

void DialogEditTime::slot_upPressed()
{
    stepNamedBySender(QStringLiteral("pushButton_up_"), +1);
}

void DialogEditTime::slot_downPressed()
{
    stepNamedBySender(QStringLiteral("pushButton_down_"), -1);
}

// Each step moves the whole moment, so minutes carry into hours and days into
// months, and a month or year step lands on the target month's last day when
// the day does not exist there.
void DialogEditTime::stepNamedBySender(const QString &namePrefix, int direction)
{
    const QString field = QString(sender() ? sender()->objectName() : QString()).remove(namePrefix);
    if (field == QLatin1String("y"))
        _dateTime = _dateTime.addYears(direction);
    else if (field == QLatin1String("m"))
        _dateTime = _dateTime.addMonths(direction);
    else if (field == QLatin1String("d"))
        _dateTime = _dateTime.addDays(direction);
    else if (field == QLatin1String("h"))
        _dateTime = _dateTime.addSecs(3600 * direction);
    else if (field == QLatin1String("min"))
        _dateTime = _dateTime.addSecs(60 * direction);
    updateLabels();
}

void DialogEditTime::on_pushButton_apply_clicked()
{
    // The button is disabled outside the clock's range; checked here as well so
    // that no way past it can set a wrapped date.
    if (!clockCanTake(_dateTime))
        return;
    Configuration::setupRtc(static_cast<unsigned int>(_dateTime.toSecsSinceEpoch()));
    accept();
}
