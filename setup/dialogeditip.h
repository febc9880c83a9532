#ifndef DIALOGEDITIP_H
#define DIALOGEDITIP_H

#include <QDialog>
#include <QHostAddress>

class Ui_DialogEditIp;

// Edits an IPv4 address one octet at a time with "+" and "-" buttons: the panel
// has no text entry, only the keyboard pointer. The caller reads _address after
// an accepted exec().
class DialogEditIp : public QDialog
{
    Q_OBJECT

public:
    DialogEditIp(const QString &caption, const QString &address, QWidget *parent = nullptr);
    ~DialogEditIp() override;

private:
    Ui_DialogEditIp *ui;

public:
    QHostAddress _address;

private slots:
    void slot_upPressed();
    void slot_downPressed();

private:
    void updateLabels();
    void stepOctetNamedBySender(const QString &namePrefix, int delta);
};

#endif // DIALOGEDITIP_H
