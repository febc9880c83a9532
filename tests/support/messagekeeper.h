#ifndef MESSAGEKEEPER_H
#define MESSAGEKEEPER_H

// What a test does with Qt's log lines: keeps the program's own for the
// checks, and silences the offscreen platform's noise.

#include <QStringList>

namespace ScreenTest {

// The offscreen platform warns at every shown dialog that it cannot pass size
// hints on; on the panel there is nothing to pass them to either. Call from
// initTestCase, after the test framework has put its own handler in place.
void quietOffscreenWarnings();

// The store's and the window's own log lines, kept for the checks from
// keepMessages() on. Debug and info lines are not printed: they would bury the
// test output; warnings and worse go on to the test framework.
QStringList &keptMessages();
void keepMessages();

} // namespace ScreenTest

#endif // MESSAGEKEEPER_H
