#ifndef SANDBOXGUARD_H
#define SANDBOXGUARD_H

#include <QString>

// Tests that run commands (network, clock, reboot, browser) call requireSandbox
// first. Outside the panel sandbox they would flush this host's eth0 or set its
// clock, so the binary stops at once (status 3) instead of running a single
// test. The rule is the scripts' one (tests/sandbox/sandboxguard.sh): $PANEL_SANDBOX
// is 1 and every program of tests/sandbox/standins is the recording stand-in
// $PANEL_SANDBOX_RECORDER.
bool insideSandbox();
void requireSandbox();

// Tests that end processes they find in /proc by name or by parentage need
// more: in the host's PID namespace such a list holds other people's
// processes. Inside the sandbox's own PID namespace everything seen belongs to
// this test run. why, when given, says what is missing.
bool insideSandboxPidNamespace(QString *why = nullptr);
// Stops the test binary (status 3) unless it runs inside the sandbox, with a
// PID namespace of its own.
void requireSandboxPidNamespace();

#endif // SANDBOXGUARD_H
