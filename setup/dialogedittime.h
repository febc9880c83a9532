#ifndef DIALOGEDITTIME_H
#define DIALOGEDITTIME_H

#include <QDateTime>
#include <QDialog>

class Ui_DialogEditTime;

// Sets the system clock and the hardware clock. The value starts at the moment
// the dialog opens and moves only by the "+" and "-" buttons; "Применить" hands
// it to the clock setter and accepts.
class DialogEditTime : public QDialog
{
    Q_OBJECT

public:
    explicit DialogEditTime(QWidget *parent = nullptr);
    ~DialogEditTime() override;

    // The clock setter takes an unsigned 32-bit count of seconds since
    // 1970-01-01 00:00:00 UTC; a moment outside that range would reach the
    // clock as a wrapped number, that is as a plainly wrong date.
    static bool clockCanTake(const QDateTime &moment);

private:
    Ui_DialogEditTime *ui;
    QDateTime _dateTime;

private slots:
    void slot_upPressed();
    void slot_downPressed();
    void on_pushButton_apply_clicked();

private:
    void updateLabels();
    void stepNamedBySender(const QString &namePrefix, int direction);
};

#endif // DIALOGEDITTIME_H
