#include "monitor/ThreadPriority.h"

#include <cerrno>
#include <sys/resource.h>
#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

namespace kestrel {

void LowerCurrentThreadPriority()
{
#if defined(__linux__)
    // On Linux the nice value belongs to the thread, addressed by its id.
    const id_t tid = static_cast<id_t>(::syscall(SYS_gettid));
    errno = 0;
    const int current = ::getpriority(PRIO_PROCESS, tid);
    if (current == -1 && errno != 0)
        return;
    ::setpriority(PRIO_PROCESS, tid, current + 1);
#endif
}

}  // namespace kestrel
