#ifndef MAINWINDOW_H
#define MAINWINDOW_H

#include <QMainWindow>
#include <QTimer>

class Ui_MainWindow;

// The panel's settings screen: identity, Ethernet settings, clock and the
// buttons that apply, save, reload and leave. It takes no keyboard focus
// anywhere; the operator works it through the keyboard pointer.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    void updateLables();
    void updateNetworkLables();

private slots:
    void slot_updateTimerTick();
    void on_checkBox_dhcp_stateChanged(int arg1);
    void on_pushButton_ipAddrEdit_clicked();
    void on_pushButton_gatewayAddrEdit_clicked();
    void on_pushButton_ipMaskEdit_clicked();
    void on_pushButton_timeDateSetup_clicked();
    void on_pushButton_apply_clicked();
    void on_pushButton_goToCmd_clicked();
    void on_pushButton_defaultSettings_clicked();
    void on_pushButton_save_clicked();
    void on_pushButton_exit_clicked();
    void on_pushButton_reboot_clicked();

private:
    Ui_MainWindow *ui;
    QTimer _updateTimer;
};

#endif // MAINWINDOW_H
