// The module's one export. Nothing thrown inside may cross into the host: it
// was built by another compiler and would terminate the process.
#include "host/host_link.h"
#include "plugin/dispatch.h"

#if defined(_WIN32)
#define PLUMETA_EXPORT  // exported by name through plumeta.def
#else
#define PLUMETA_EXPORT __attribute__((visibility("default")))
#endif

extern "C" PLUMETA_EXPORT int32_t PLUMETA_HOSTCALL IMessageProc(plumeta::MessageRecord* message) {
    if (!message) return 0;
    try {
        return plumeta::HandleMessage(message);
    } catch (...) {
        // A short status-change record (HostMessageException) or a failed
        // allocation: nothing was written for it; answer 0.
        return 0;
    }
}
