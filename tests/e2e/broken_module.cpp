// Test modules for the host emulator: one that crashes on a contact status
// change, one (built with -DNO_ENTRY) without the entry point, and one
// (-DCRASH_ON_LOAD) that crashes while it is loaded.
#include <cstdint>

#include "host/host_link.h"

#if defined(CRASH_ON_LOAD)
namespace {
struct CrashOnLoad {
    CrashOnLoad() {
        volatile int32_t* nowhere = nullptr;
        *nowhere = 1;
    }
} crash;
}  // namespace
#endif

#if defined(NO_ENTRY)
extern "C" __attribute__((visibility("default"))) int32_t SomethingElse() { return 0; }
#else
extern "C" __attribute__((visibility("default"))) int32_t PLUMETA_HOSTCALL
IMessageProc(plumeta::MessageRecord* message) {
    if (message->header.id == 24011) {
        volatile int32_t* nowhere = nullptr;
        *nowhere = 1;  // the crash the emulator must report
    }
    return 0;
}
#endif
