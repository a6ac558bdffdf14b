#include "monitor/ThreadPriority.h"

#include <windows.h>

namespace kestrel {

void LowerCurrentThreadPriority()
{
    ::SetThreadPriority(::GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}

}  // namespace kestrel
