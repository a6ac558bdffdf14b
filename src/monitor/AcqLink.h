#pragma once
// What the acquisition thread needs from the central-block protocol: the port
// opened and closed around a visit, and a request code run on a CB. The
// thread sees only this, so its loop can be driven by the real protocol
// (TProtocolAcqLink) or by a scripted link in tests.
#include <cstdint>
#include <functional>

#include "state/Model.h"

namespace kestrel {

// The request codes a window may post and the thread executes.
constexpr bool IsRequestCode(int32_t code)
{
    return (code >= 1 && code <= 23) || (code >= 101 && code <= 107);
}

// Codes the thread runs by itself in its automatic polling.
constexpr int32_t kReqReadAllFuncTables = 102;
constexpr int32_t kReqReadUirConfig = 104;
constexpr int32_t kReqEventCycle = 106;
constexpr int32_t kReqFetchJournal2 = 107;
// A job staged with the request (TRequestTask): a whole settings read or
// restore that must run on the thread, with the port open, in one visit.
constexpr int32_t kReqRunTask = 120;

class IAcqLink {
public:
    virtual ~IAcqLink() = default;
    // Select the CB's port and line settings and open the port. The result is
    // not examined: a failed open shows in the commands that follow.
    virtual void OpenPortForCb(int32_t cb) = 0;
    virtual void ClosePortForCb(int32_t cb) = 0;
    // A code the thread may take from a request slot (1..23, 101..107).
    virtual bool IsKnownCode(int32_t code) const = 0;
    // Run the command or composite of the code on CB cb, with the current
    // Fcb and UirSegment. Sets the CB's error flag and link bookkeeping.
    virtual void Dispatch(int32_t cb, int32_t code) = 0;
    // The event cycle (code 106), which `stopRequested` may end between two
    // exchanges; the thread hands in its shutdown. A link without its own
    // runs it as any other code.
    virtual void RunEventCycle(int32_t cb, const std::function<bool()>& stopRequested)
    {
        (void)stopRequested;
        Dispatch(cb, kReqEventCycle);
    }
    // The job of a kReqRunTask request. A link that does not know the job's
    // kind leaves it undone (the job reports that itself).
    virtual void RunTask(int32_t cb, TRequestTask& task)
    {
        (void)cb;
        (void)task;
    }
};

}  // namespace kestrel
