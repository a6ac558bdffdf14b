#pragma once
// Lower the calling thread's priority one step below normal, where the OS
// allows it. Failure is ignored: the thread then runs at normal priority.
namespace kestrel {

void LowerCurrentThreadPriority();

}  // namespace kestrel
