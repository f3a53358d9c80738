// Runs every registered unit test and prints "N passed, N failed" (a case passes when none of its checks fail).
#include "check.h"

int main() {
    int passed = 0, failed = 0;
    for (const check::Case& c : check::cases()) {
        int before = check::failures();
        c.fn();
        if (check::failures() == before) {
            ++passed;
        } else {
            ++failed;
            std::printf("FAIL %s\n", c.name);
        }
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
