// The C++ sandbox guard alone, for the sandbox's self-test: runs nothing, says
// "inside" and ends with 0 where the guard lets a test run, and ends as the
// guard ends a test (status 3) everywhere else.
#include "sandboxguard.h"

#include <cstdio>

int main()
{
    requireSandbox();
    std::puts("inside");
    return 0;
}
