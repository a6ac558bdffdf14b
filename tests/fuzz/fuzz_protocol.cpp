// Response validation and event decoding under arbitrary answers: the input
// picks a command and then supplies, chunk by chunk, what the device answers
// to each request (see fuzz_protocol_rig.h). Nothing may crash, read or write
// outside a buffer.
#include <cstddef>
#include <cstdint>

#include "fuzz_protocol_rig.h"
#include "protocol/Protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    using namespace kestrel;
    if (size < 3)
        return 0;
    TEventData e;
    if (DecodeEventMessage(data, size, e)) {
        (void)EventListText(e);
        (void)EventListDate(e);
        (void)EventLogLines(e);
        (void)EventConsoleText(e);
    }
    static fuzz::ProtocolRig rig;
    rig.Run(data, size);
    return 0;
}
