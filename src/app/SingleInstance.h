#pragma once
// At most one running instance per user: a named mutex on Windows, an
// exclusive lock on a file in the user's runtime folder elsewhere. The lock
// is held until the process ends.
#include <cstdint>
#include <string>

namespace kestrel {

class TSingleInstance {
public:
    enum class Result { Acquired, AlreadyRunning, Unavailable };

    TSingleInstance() = default;
    ~TSingleInstance();
    TSingleInstance(const TSingleInstance&) = delete;
    TSingleInstance& operator=(const TSingleInstance&) = delete;

    // name: the mutex name ("KestrelUtilite"). folder (not on Windows): where
    // the lock file goes; empty = $XDG_RUNTIME_DIR, else /tmp/kestrel-<uid>.
    // Unavailable: no lock could be made at all; the program then runs
    // rather than refuse the operator.
    Result Acquire(const std::string& name = "KestrelUtilite", const std::string& folder = {});

private:
    intptr_t handle_ = -1;
};

}  // namespace kestrel
