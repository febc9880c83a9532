#ifndef CONFIGURATION_H
#define CONFIGURATION_H

#include <QJsonObject>
#include <QString>

// The panel's one settings record. Its members are public on purpose: the
// screens read and assign them directly, the system actions read them.
class Configuration
{
public:
    static Configuration *instation();

    void init();
    void saveConfiguration();

    static int clearLinuxFb();
    static void applicationExit();

    static QString getMacAddressByName(const QString &interfaceName);
    static QString getCurretnIpAddress(const QString &interfaceName);
    static QString getCurrentNetmask(const QString &interfaceName);
    static QString getCurrentGatewayFromProc(const QString &interfaceName);

    void initNetwork();
    void startBrowser();
    void stopBrowser();
    static void setupRtc(unsigned int secondsSinceEpoch);
    static void doReboot();

    QJsonObject _jsonObject;
    QString _textHeaderValue1;
    QString _textHeaderValue2;
    QString _hostName;
    QString _browserStartCommand;
    QString _serialIdFilePath;
    QString _macAddress;
    QString _serialIdValue;
    QString _netIp;
    QString _netMask;
    QString _netGateway;
    bool _dhcpEnable = false;
    bool _showCmdButton = false;

    static const QString DEFAULT_NETWORK_INTERFACE;
    static const QString TEXT_FILE_NAME;
    static const QString CONFIGURATION_FILE_NAME;

private:
    Configuration();

    static Configuration *_instation;
};

#endif // CONFIGURATION_H
