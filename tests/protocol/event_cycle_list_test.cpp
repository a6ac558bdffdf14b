// The events one event cycle received (kestrel-console watch prints them after
// every cycle): a cycle that ends before its polls hands on nothing of the last.
#include <gtest/gtest.h>

#include "protocol/ProtocolRig.h"

namespace kestrel {
namespace {

using test::Bytes;

TEST(EventCycleList, EachCycleReportsOnlyItsOwnEvents)
{
    struct Case {
        const char* Name;
        std::vector<Bytes> Answers;  // to the second cycle's exchanges
        bool Stop;                   // stop requested before its first exchange
        int Result;
        size_t Events;
    };
    const Case cases[] = {
        {"frame-count reset unanswered", std::vector<Bytes>(10, Bytes{}), false, -3, 0},
        {"frame-count reset refused", std::vector<Bytes>(10, Bytes{0x10}), false, -3, 0},
        {"stopped", {}, true, 0, 0},
        {"nothing new", {test::Ack(), test::Ack()}, false, 0, 0},
        {"one new", {test::Ack(), test::EventFrame({.Code = 0xB3}), test::Ack()}, false, 0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        test::ProtocolRig r;
        for (const Bytes& a : {test::Ack(), test::EventFrame({.Code = 0xB1}), test::EventFrame({.Code = 0xB2}), test::Ack()})
            r.dev.Answer(a);
        ASSERT_EQ(r.proto.ReqEventCycle(0), 0);
        ASSERT_EQ(r.proto.LastCycleEvents().size(), 2u);
        for (const Bytes& a : c.Answers)
            r.dev.Answer(a);
        EXPECT_EQ(r.proto.ReqEventCycle(0, [stop = c.Stop] { return stop; }), c.Result);
        ASSERT_EQ(r.proto.LastCycleEvents().size(), c.Events);
        if (c.Events) {
            EXPECT_EQ(r.proto.LastCycleEvents()[0].Code, 0xB3);
        }
        EXPECT_EQ(r.cb().Events.Count(), static_cast<int>(2 + c.Events));  // the block's list keeps them all
    }
}

}  // namespace
}  // namespace kestrel
