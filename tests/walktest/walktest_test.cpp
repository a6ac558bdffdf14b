// The walk-test's logic as sequences of the events a block reports, and its
// file: written after every result, read back for a resume.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "state/ConfigFile.h"
#include "walktest/WalkTest.h"

namespace kestrel::test {
namespace {

// UIRs 1 and 2 polled with inputs 1..3 monitored, functions F0, F1, F2;
// UIR 3 polled with input 1 only; UIR 4 present, not polled.
TCbSettings Block()
{
    TCbSettings s = DefaultCbSettings();
    for (int m = 0; m < 4; ++m)
        for (int k = 0; k < 4; ++k)
            s.FuncTable[k][m] = static_cast<uint8_t>((1 << k) | (m << 4));  // mode in bits 4-5
    for (int u = 0; u < kUirCount; ++u) {
        TUirSettings& x = s.Uir[u];
        x.Present = u < 4;
        x.PollEnabled = u < 3;
        x.InputControl1 = 1;
        x.InputControl2 = x.InputControl3 = u < 2;
        x.InputFunction1 = 0;
        x.InputFunction2 = 1;
        x.InputFunction3 = 2;
    }
    return s;
}

TEventData Arc(int uir, int input) { return TEventData{static_cast<uint8_t>(0xA0 + input), static_cast<uint8_t>(uir)}; }
TEventData Outs(uint8_t o)
{
    TEventData e{0xC0};
    e.Outputs = o;
    return e;
}
TEventData Code(uint8_t c, int uir = 0) { return TEventData{c, static_cast<uint8_t>(uir)}; }
const TEventData kReset = Code(0xD2);

struct Step {
    TEventData Event;
    int64_t AtMs;
};

struct Expect {
    int Uir, Input;
    TInputVerdict Verdict;
    const char* Reason;  // a part of it; "" for a pass
    int Mode = 0;
};

struct SequenceCase {
    const char* name;
    std::vector<Step> steps;
    int64_t endMs;  // OnTime at this moment, then Finish
    std::vector<Expect> expect;
    bool allPassed;
};

TEST(WalkTest, EventSequences)
{
    using V = TInputVerdict;
    // Outputs of function k in mode m: bit k, and m in bits 4-5.
    const auto out = [](int k, int m) { return static_cast<uint8_t>((1 << k) | (m << 4)); };
    std::vector<Step> allSeven;
    int64_t t = 1000;
    for (int u = 1; u <= 2; ++u)
        for (int i = 1; i <= 3; ++i) {
            allSeven.push_back({Arc(u, i), t});
            allSeven.push_back({Outs(out(i - 1, 0)), t + 50});
            allSeven.push_back({kReset, t + 500});
            t += 1000;
        }
    allSeven.push_back({Arc(3, 1), t});
    allSeven.push_back({Outs(out(0, 0)), t + 50});

    const std::vector<SequenceCase> cases = {
        {"all pass, a reset between flashes", allSeven, t + 100, {{3, 1, V::Passed, ""}}, true},
        {"wrong outputs",
         {{Arc(1, 2), 1000}, {Outs(0x20), 1100}},
         2000,
         {{1, 2, V::Failed, "выходы 6 вместо 2"}},
         false},
        {"no outputs within the limit",
         {{Arc(1, 1), 1000}},
         1000 + TWalkTest::kOutputsLimitMs + 1,
         {{1, 1, V::Failed, "нет события выходов"}},
         false},
        {"outputs after the limit are no answer",
         {{Arc(1, 1), 1000}, {Outs(0x01), 1000 + TWalkTest::kOutputsLimitMs + 500}},
         9000,
         {{1, 1, V::Failed, "нет события выходов"}},
         false},
        {"an unmonitored input", {{Arc(3, 2), 1000}, {Outs(out(1, 0)), 1050}}, 2000, {{3, 2, V::Failed, "вход не контролируется"}}, false},
        {"a UIR that is not polled", {{Arc(4, 1), 1000}, {Outs(out(0, 0)), 1050}}, 2000, {{4, 1, V::Failed, "УИР не опрашивается"}}, false},
        {"under MTZ-2, the MTZ event between arc and outputs",
         {{Arc(2, 3), 1000}, {Code(0xB2), 1010}, {Outs(out(2, 2)), 1020}},
         2000,
         {{2, 3, V::Passed, "", 2}},
         false},
        {"MTZ holds until the reset",
         {{Code(0xB3), 900}, {Arc(1, 1), 1000}, {Outs(out(0, 3)), 1050}, {kReset, 1500}, {Arc(1, 2), 2000},
          {Outs(out(1, 0)), 2050}},
         3000,
         {{1, 1, V::Passed, "", 3}, {1, 2, V::Passed, "", 0}},
         false},
        {"without a reset the outputs already on stay in the picture",
         {{Arc(1, 1), 1000}, {Outs(out(0, 0)), 1050}, {Arc(1, 2), 2000}, {Outs(out(0, 0) | out(1, 0)), 2050}},
         3000,
         {{1, 1, V::Passed, ""}, {1, 2, V::Passed, ""}},
         false},
        {"a repeated flash replaces the earlier result",
         {{Arc(1, 1), 1000}, {Outs(0x3F), 1050}, {kReset, 1500}, {Arc(1, 1), 2000}, {Outs(out(0, 0)), 2050}},
         3000,
         {{1, 1, V::Passed, ""}},
         false},
        {"a sensor fault marks the input, a lost UIR all three",
         {{Code(0xE2, 1), 1000}, {Code(0xE0, 2), 1100}},
         2000,
         {{1, 2, V::Untested, ""}, {2, 3, V::Untested, ""}},
         false},
    };
    for (const SequenceCase& c : cases) {
        SCOPED_TRACE(c.name);
        TWalkTest w(Block(), 1, "ABC123", 500);
        for (const Step& s : c.steps) {
            w.OnTime(s.AtMs);
            w.OnEvent(s.Event, s.AtMs);
        }
        w.OnTime(c.endMs);
        for (const Expect& x : c.expect) {
            const TInputResult& r = w.Result(x.Uir, x.Input);
            SCOPED_TRACE("УИР " + std::to_string(x.Uir) + ", вход " + std::to_string(x.Input));
            EXPECT_EQ(r.Verdict, x.Verdict) << r.Reason;
            EXPECT_NE(r.Reason.find(x.Reason), std::string::npos) << r.Reason;
            if (x.Verdict != V::Untested) {
                EXPECT_EQ(r.Mode, x.Mode);
            }
        }
        EXPECT_EQ(w.AllPassed(), c.allPassed);
    }
}

TEST(WalkTest, CountsFaultsAndRepeatsAsTheOperatorSeesThem)
{
    TWalkTest w(Block(), 1, "ABC123", 0);
    EXPECT_EQ(w.Summary().Monitored, 7);
    EXPECT_EQ(w.Summary().Untested, 7);
    w.OnEvent(Arc(1, 1), 1000);
    w.OnEvent(Outs(0x02), 1010);  // wrong
    w.OnEvent(kReset, 1500);
    w.OnEvent(Arc(1, 1), 2000);
    const std::vector<TWalkNote> notes = w.OnEvent(Outs(0x01), 2010);
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].Text.find("повторная проверка заменяет результат"), std::string::npos) << notes[0].Text;
    EXPECT_EQ(w.Result(1, 1).Flashes, 2);
    w.OnEvent(Code(0xE3, 2), 2500);
    const TWalkSummary s = w.Summary();
    EXPECT_EQ(s.Passed, 1);
    EXPECT_EQ(s.Failed, 0);
    EXPECT_EQ(s.Untested, 6);
    EXPECT_EQ(s.Faults, 1);
    EXPECT_TRUE(w.Result(2, 3).Fault);
}

TEST(WalkTest, ResumesFromItsFileAfterARestart)
{
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kestrel_walktest_resume.walktest";
    {
        TWalkTest w(Block(), 2, "ABC123", 500);
        w.OnEvent(Code(0xB1), 900);
        w.OnEvent(Arc(1, 1), 1000);
        w.OnEvent(Outs(0x11), 1010);  // F0 under MTZ-1
        w.OnEvent(Arc(2, 1), 1200);
        w.OnEvent(Outs(0x20), 1210);  // wrong, and latched until a reset
        w.OnEvent(Code(0xE1, 3), 1300);
        ASSERT_EQ(w.SaveTo(file.string()), 0);
    }
    TWalkTest back;
    std::string why;
    ASSERT_TRUE(TWalkTest::LoadFrom(file.string(), back, why)) << why;
    EXPECT_EQ(back.BlockNumber(), 2);
    EXPECT_EQ(back.Fingerprint(), "ABC123");
    EXPECT_EQ(back.Result(1, 1).Verdict, TInputVerdict::Passed);
    EXPECT_EQ(back.Result(2, 1).Verdict, TInputVerdict::Failed);
    EXPECT_EQ(back.Result(2, 1).Reason, "выходы 6 вместо 1, 5");
    EXPECT_TRUE(back.Result(3, 1).Fault);
    EXPECT_EQ(back.Mode(), 1);
    EXPECT_EQ(back.Settings(), Block());
    // The test goes on where it stood: MTZ-1 and the latched output still count.
    back.OnEvent(Arc(1, 2), 2000);
    back.OnEvent(Outs(0x20 | 0x12), 2010);
    EXPECT_EQ(back.Result(1, 2).Verdict, TInputVerdict::Passed) << back.Result(1, 2).Reason;

    // A file cut short or not ours is refused, not half read.
    std::string text;
    {
        std::ifstream in(file, std::ios::binary);  // closed before the file is removed (Windows)
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    for (const std::string& bad : {text.substr(0, text.size() - 5), std::string("kestrel-walktest 2\n"), std::string()}) {
        TWalkTest t;
        EXPECT_FALSE(TWalkTest::Parse(bad, t, why));
    }
    std::filesystem::remove(file);
}

TEST(EventTap, TakesOnlyWhatCameAfterItOldestFirst)
{
    TKestrelEvents list;
    list.InsertAt(Code(0xD2), 0);
    TEventTap tap(list);
    EXPECT_TRUE(tap.Take().empty());
    list.InsertAt(Arc(1, 1), 0);
    list.InsertAt(Outs(1), 0);
    list.Append(Code(0xD3));  // a journal record at the back is no new event
    const std::vector<TEventData> got = tap.Take();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].Code, 0xA1);
    EXPECT_EQ(got[1].Code, 0xC0);
    EXPECT_TRUE(tap.Take().empty());
}

}  // namespace
}  // namespace kestrel::test
