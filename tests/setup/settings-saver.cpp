// Saves the settings over and over, alternating between two contents, until it
// is killed: the victim of the power-cut test.
#include "configuration.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    Configuration *store = Configuration::instation();
    const QString ballast(200000, QLatin1Char('b'));
    for (;;) {
        const bool first = store->_netIp == QLatin1String("10.0.0.1");
        store->_netIp = first ? QStringLiteral("10.0.0.2") : QStringLiteral("10.0.0.1");
        if (first)
            store->_jsonObject.insert(QStringLiteral("ballast"), ballast);
        else
            store->_jsonObject.remove(QStringLiteral("ballast"));
        store->saveConfiguration();
    }
}
