#ifndef OCTETEDIT_H
#define OCTETEDIT_H

#include <QtGlobal>

class QHostAddress;
class QLabel;

// What the address and the netmask dialogs have in common: both edit a 32-bit
// IPv4 value, first octet in the most significant byte, and show it as four
// decimal labels between a row of "+" and a row of "-" buttons.
namespace OctetEdit {

// The value as the dialogs step it; anything that is not an IPv4 address
// (an empty or malformed setting) counts as 0.0.0.0.
quint32 valueOf(const QHostAddress &address);

// Octet 1 is the leftmost of the dotted text (bits 31..24), octet 4 the rightmost.
int octetAt(quint32 value, int octet);

// One step of one octet, by +1 or -1. The octet stops at 0 and at 255: a step
// never wraps round and never carries into the neighbouring octet, so the
// operator can hold a button down without the other octets moving.
quint32 stepOctet(quint32 value, int octet, int delta);

// The contiguous netmask of the given prefix length (0 to 32).
quint32 prefixMask(int length);

// One step of a netmask's prefix length, by +1 or -1, kept within 1 to 32. The
// length is the count of one bits wherever they lie, so a non-contiguous mask
// becomes a contiguous one on the first press.
quint32 stepPrefixLength(quint32 mask, int delta);

// Writes the four octets into the four labels, in plain decimal.
void showOctets(QLabel *const (&labels)[4], quint32 value);

// Both layouts name their labels alike; this lets either dialog hand its own
// generated layout over.
template <class Ui>
void showOctets(const Ui *ui, quint32 value)
{
    QLabel *const labels[4] = {ui->label_ip1, ui->label_ip2, ui->label_ip3, ui->label_ip4};
    showOctets(labels, value);
}

} // namespace OctetEdit

#endif // OCTETEDIT_H
