// The list of events one event cycle received: a cycle that ends before its
// polls must not hand on the previous cycle's events (kestrel-console watch
// prints that list after every cycle).
#include <gtest/gtest.h>

#include "protocol/ProtocolRig.h"

namespace kestrel {
namespace {

using test::Bytes;
using test::Ev;
using test::EventFrame;

Bytes Event(uint8_t code)
{
    Ev e;
    e.Code = code;
    e.B9 = 0xFF;
    return EventFrame(e);
}

TEST(EventCycleList, EachCycleReportsOnlyItsOwnEvents)
{
    struct Case {
        const char* Name;
        std::vector<Bytes> SecondCycle;  // answers to the second cycle's exchanges
        bool StopAtOnce;                 // stop requested before the second cycle's first exchange
        int Result;
        size_t Writes;                   // exchanges of the second cycle
    };
    const Case cases[] = {
        // Ten silent frame-count resets: the cycle ends with -3 before any poll.
        {"reset unanswered", std::vector<Bytes>(10, Bytes{}), false, -3, 10},
        // Ten refused resets (not 0xE5).
        {"reset refused", std::vector<Bytes>(10, Bytes{0x10}), false, -3, 10},
        // Stopped before the first exchange: 0 and nothing sent.
        {"stopped", {}, true, 0, 0},
        // Answered, nothing new: 0 and an empty list.
        {"nothing new", {test::Ack(), test::Ack()}, false, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        test::ProtocolRig r;
        // First cycle: two events.
        r.dev.Answer(test::Ack());
        r.dev.Answer(Event(0xB1));
        r.dev.Answer(Event(0xB2));
        r.dev.Answer(test::Ack());
        ASSERT_EQ(r.proto.ReqEventCycle(0), 0);
        ASSERT_EQ(r.proto.LastCycleEvents().size(), 2u);

        r.dev.Writes.clear();
        for (const Bytes& a : c.SecondCycle)
            r.dev.Answer(a);
        const bool stop = c.StopAtOnce;
        EXPECT_EQ(r.proto.ReqEventCycle(0, [stop] { return stop; }), c.Result);
        EXPECT_EQ(r.dev.Writes.size(), c.Writes);
        EXPECT_TRUE(r.proto.LastCycleEvents().empty());
        // The block's list keeps what came before.
        EXPECT_EQ(r.cb().Events.Count(), 2);
    }
}

TEST(EventCycleList, AFailedCycleBetweenTwoGoodOnesHidesNothingNew)
{
    test::ProtocolRig r;
    r.dev.Answer(test::Ack());
    r.dev.Answer(Event(0xB1));
    r.dev.Answer(test::Ack());
    ASSERT_EQ(r.proto.ReqEventCycle(0), 0);
    ASSERT_EQ(r.proto.LastCycleEvents().size(), 1u);
    EXPECT_EQ(r.proto.ReqEventCycle(0), -3);  // nothing scripted: no answer at all
    EXPECT_TRUE(r.proto.LastCycleEvents().empty());
    r.dev.Answer(test::Ack());
    r.dev.Answer(Event(0xB3));
    r.dev.Answer(test::Ack());
    ASSERT_EQ(r.proto.ReqEventCycle(0), 0);
    ASSERT_EQ(r.proto.LastCycleEvents().size(), 1u);
    EXPECT_EQ(r.proto.LastCycleEvents()[0].Code, 0xB3);
}

}  // namespace
}  // namespace kestrel
