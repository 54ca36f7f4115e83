// Deliberate faults, one chosen by the argument, so a sanitizer build shows
// that it still catches each kind and stops at it: built without the
// instrumentation, this program runs to its end and exits 0.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const std::string fault = argc > 1 ? argv[1] : "";
    volatile int past = 8; // volatile: the compiler must not see the fault coming
    if (fault == "heap-overflow") {
        char* bytes = new char[8];
        bytes[past] = 1;
        delete[] bytes;
    } else if (fault == "undefined") {
        volatile int big = INT_MAX;
        std::printf("%d\n", big + 1);
    } else if (fault == "leak") {
        void* volatile lost = std::malloc(64);
        lost = nullptr;
        (void)lost;
    }
    std::puts("went on after the fault");
    return 0;
}
