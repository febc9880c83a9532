#include "octetedit.h"

#include <QHostAddress>
#include <QLabel>

namespace OctetEdit {

namespace {
int shiftOf(int octet)
{
    return 8 * (4 - octet);
}
} // namespace

quint32 valueOf(const QHostAddress &address)
{
    return address.protocol() == QAbstractSocket::IPv4Protocol ? address.toIPv4Address() : 0;
}

int octetAt(quint32 value, int octet)
{
    return int((value >> shiftOf(octet)) & 0xFFu);
}

quint32 stepOctet(quint32 value, int octet, int delta)
{
    const int next = qBound(0, octetAt(value, octet) + delta, 255);
    const quint32 cleared = value & ~(quint32(0xFFu) << shiftOf(octet));
    return cleared | (quint32(next) << shiftOf(octet));
}

quint32 prefixMask(int length)
{
    // A shift by 32 is undefined in C++, hence the two ends by hand.
    if (length <= 0)
        return 0;
    if (length >= 32)
        return 0xFFFFFFFFu;
    return 0xFFFFFFFFu << (32 - length);
}

quint32 stepPrefixLength(quint32 mask, int delta)
{
    return prefixMask(qBound(1, int(qPopulationCount(mask)) + delta, 32));
}

void showOctets(QLabel *const (&labels)[4], quint32 value)
{
    for (int octet = 1; octet <= 4; ++octet)
        labels[octet - 1]->setText(QString::number(octetAt(value, octet)));
}

} // namespace OctetEdit
