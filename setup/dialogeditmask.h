#ifndef DIALOGEDITMASK_H
#define DIALOGEDITMASK_H

#include <QDialog>
#include <QHostAddress>

class Ui_DialogEditMask;

// Edits a netmask as a prefix length: the "+" and "-" of the last column make
// the mask one bit longer or shorter, the four labels show the dotted quad. The
// caller reads _mask after an accepted exec().
class DialogEditMask : public QDialog
{
    Q_OBJECT

public:
    DialogEditMask(const QString &caption, const QString &mask, QWidget *parent = nullptr);
    ~DialogEditMask() override;

private:
    Ui_DialogEditMask *ui;

public:
    QHostAddress _mask;

private slots:
    void slot_upPressed();
    void slot_downPressed();

private:
    void updateLabels();
};

#endif // DIALOGEDITMASK_H
