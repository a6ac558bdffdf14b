// The settings check: the comparison in the operator's terms and its
// fingerprint, the block read and the restore against the in-process
// simulated block, the mark after a menu visit, and a damaged file refused
// before anything is sent.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "SimBus.h"
#include "check/BlockSettingsIo.h"
#include "check/SettingsCheck.h"
#include "ConsoleSettings.h"
#include "link/ComPort.h"
#include "monitor/GetDataThread.h"
#include "monitor/ProtocolAcqLink.h"
#include "protocol/Protocol.h"
#include "state/ConfigFile.h"
#include "state/Cp1251.h"

namespace kestrel::test {
namespace {

using sim::SimCmd;
using sim::TSimCb;

// ------------------------------------------------------------ comparison

struct CompareCase {
    const char* name;
    std::function<void(TCbSettings&)> change;
    bool onFileSide;          // the change is made to the first (file) side
    std::vector<std::string> expected;  // empty: the two count as equal
};

TEST(SettingsCompare, EveryFieldOnEachSideInTheOperatorsTerms)
{
    const std::vector<CompareCase> cases = {
        {"table outputs", [](TCbSettings& s) { s.FuncTable[2][1] = 0x09; }, false,
         {"МТЗ-1, F2: выходы 1, 3 → 1, 4"}},
        {"table on the file side", [](TCbSettings& s) { s.FuncTable[0][0] = 0x3F; }, true,
         {"Без МТЗ / МТЗ-v, F0: выходы 1, 2, 3, 4, 5, 6 → 1, 3"}},
        {"all outputs off", [](TCbSettings& s) { s.FuncTable[3][3] = 0x00; }, false, {"МТЗ-3, F3: выходы 1, 3 → нет"}},
        {"bits 6 and 7 are no outputs", [](TCbSettings& s) { s.FuncTable[1][2] |= 0xC0; }, false, {}},
        {"UROV", [](TCbSettings& s) { s.UrovTimeMs = 250; }, false, {"Время УРОВ: 500 мс → 250 мс"}},
        {"UROV within one 50 ms step", [](TCbSettings& s) { s.UrovTimeMs = 530; }, false, {}},
        {"MTZ wait", [](TCbSettings& s) { s.MtzWait = 1; }, true, {"МТЗ: ждать → не ждать"}},
        {"polling", [](TCbSettings& s) { s.Uir[4].PollEnabled = 0; }, false, {"УИР 5, опрос: разрешен → запрещен"}},
        {"output", [](TCbSettings& s) { s.Uir[4].OutputEnabled = 1; }, false, {"УИР 5, выход: запрещен → разрешен"}},
        {"function", [](TCbSettings& s) { s.Uir[4].InputFunction2 = 3; }, false, {"УИР 5, вход 2: F1 → F3"}},
        {"monitoring", [](TCbSettings& s) { s.Uir[42].InputControl3 = 0; }, false,
         {"УИР 43, вход 3, контроль: включен → выключен"}},
        {"several, in the window's order",
         [](TCbSettings& s) {
             s.Uir[0].InputFunction1 = 2;
             s.MtzWait = 1;
             s.FuncTable[0][3] = 0;
         },
         false, {"МТЗ-3, F0: выходы 1, 3 → нет", "МТЗ: не ждать → ждать", "УИР 1, вход 1: F0 → F2"}},
        {"names are no block settings", [](TCbSettings& s) { s.Uir[3].Name = W1251("Ячейка 4"); }, false, {}},
    };
    TCbSettings base = DefaultCbSettings();
    for (auto& row : base.FuncTable)
        for (uint8_t& b : row)
            b = 0x05;
    for (TUirSettings& u : base.Uir) {
        u.PollEnabled = 1;
        u.InputFunction2 = 1;
        u.InputControl3 = 1;
    }
    for (const CompareCase& c : cases) {
        SCOPED_TRACE(c.name);
        TCbSettings a = base, b = base;
        c.change(c.onFileSide ? a : b);
        const TDeviceSettings da = DeviceSettingsOf(a), db = DeviceSettingsOf(b);
        std::vector<std::string> got;
        for (const TSettingsDifference& d : CompareDeviceSettings(da, db))
            got.push_back(d.Text);
        EXPECT_EQ(got, c.expected);
        // The fingerprint follows the comparison, both ways.
        EXPECT_EQ(SettingsFingerprint(da) == SettingsFingerprint(db), c.expected.empty());
        EXPECT_EQ(SettingsFingerprint(da).size(), 6u);
    }
}

TEST(SettingsCompare, RestoreRefusesValuesNoBlockCanHold)
{
    struct Case {
        const char* name;
        std::function<void(TCbSettings&)> change;
        size_t problems;
    } const cases[] = {
        {"defaults", [](TCbSettings&) {}, 0},
        {"UROV 50 and 500 are the ends", [](TCbSettings& s) { s.UrovTimeMs = 50; }, 0},
        {"UROV 230 is no step", [](TCbSettings& s) { s.UrovTimeMs = 230; }, 1},
        {"UROV 550 above the list", [](TCbSettings& s) { s.UrovTimeMs = 550; }, 1},
        {"UROV 0", [](TCbSettings& s) { s.UrovTimeMs = 0; }, 1},
        {"function 4", [](TCbSettings& s) { s.Uir[7].InputFunction3 = 4; }, 1},
        {"two at once", [](TCbSettings& s) { s.Uir[0].InputFunction1 = 9; s.UrovTimeMs = 1000; }, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TCbSettings s = DefaultCbSettings();
        c.change(s);
        EXPECT_EQ(RestoreProblems(s).size(), c.problems);
    }
}

// ------------------------------------------------------------ against the simulated block

struct SimRig {
    SimRig() : bus(clock), protocol(state, port, clock, hooks)
    {
        sim::TSimCbOptions o;
        o.Address = 3;
        block = &bus.Attach(1, o);
        TCbData& cb = *state.Cb(0);
        cb.Address = 3;
        cb.PortNumber = 1;
        protocol.OpenPortForCb(0);
    }
    TDeviceSettings Read()
    {
        TCbData scratch;
        EXPECT_EQ(ReadBlockSettings(protocol, 0, scratch), 0);
        return DeviceSettingsOf(scratch);
    }

    VirtualClock clock;
    TGlobalState state;
    sim::SimBus bus;
    TComPort port{bus};
    IUiHooks hooks;
    TCbProtocol protocol;
    TSimCb* block = nullptr;
};

TEST(BlockSettings, ReadLeavesTheModelAloneAndTakesTheSpecifiedWaits)
{
    SimRig r;
    r.block->SetTableWire(1, 2, static_cast<uint8_t>(~0x05));
    r.block->ConfigureUir(5, true, false, 0, 3, 1, true, false, true);
    const uint64_t before = r.clock.SleptMs();
    const TDeviceSettings d = r.Read();
    // Four tables and eleven segments, 200 ms each after the write at 9600 bit/s.
    EXPECT_EQ(r.clock.SleptMs() - before, 15u * 200u);
    EXPECT_EQ(r.block->RequestCount(SimCmd::ReadTable), 4u);
    EXPECT_EQ(r.block->RequestCount(SimCmd::ReadSegment), 11u);
    EXPECT_EQ(d.FuncTable[2][1], 0x05);
    EXPECT_EQ(d.Uir[4].Function, (std::array<uint8_t, 3>{0, 3, 1}));
    EXPECT_EQ(d.Uir[4].Control, (std::array<uint8_t, 3>{1, 0, 1}));
    // The record of the block is untouched.
    EXPECT_EQ(r.state.Cb(0)->FuncTable[2][1], 0);
    EXPECT_EQ(r.state.Cb(0)->Uir[4].InputFunction2, 0);
    EXPECT_EQ(r.state.Cb(0)->Uir[4].PollEnabled, 0);
}

TEST(BlockSettings, RestoreWritesOnlyWhatDiffersAndKeepsTheBlocksOwnBits)
{
    SimRig r;
    r.block->SetTableWire(1, 2, static_cast<uint8_t>(~0xC5));  // bits 6 and 7 set in the block
    TDeviceSettings target = r.Read();
    target.FuncTable[2][1] = 0x09;
    target.Uir[8].PollEnabled = 1;
    r.block->ResetCounts();

    const TRestoreReport rep = RestoreBlockSettings(r.protocol, 0, target);
    EXPECT_EQ(rep.Result, 0);
    EXPECT_TRUE(rep.NotTaken.empty());
    EXPECT_EQ(rep.TablesWritten, 1);
    EXPECT_EQ(rep.SegmentsWritten, 1);
    EXPECT_EQ(r.block->RequestCount(SimCmd::WriteTable), 1u);
    EXPECT_EQ(r.block->RequestCount(SimCmd::WriteSegment), 1u);
    // Read before and after: 2 x 15 reads.
    EXPECT_EQ(r.block->RequestCount(SimCmd::ReadTable) + r.block->RequestCount(SimCmd::ReadSegment), 30u);
    EXPECT_EQ(r.block->TableWire(1, 2), static_cast<uint8_t>(~0xC9));
    EXPECT_EQ(rep.After, target);
}

TEST(BlockSettings, ASegmentTheBlockRefusesIsListedAndNoSuccessIsReported)
{
    SimRig r;
    TDeviceSettings target = r.Read();
    target.Uir[8].PollEnabled = 1;       // segment 2 (UIRs 8..11), refused
    target.Uir[20].OutputEnabled = 1;    // segment 5, taken
    sim::TFaultRule refuse;
    refuse.Kind = sim::FaultKind::Ignore;
    refuse.Cmd = SimCmd::WriteSegment;
    refuse.Remaining = 10;  // every try of the first segment written
    r.block->Inject(refuse);

    const TRestoreReport rep = RestoreBlockSettings(r.protocol, 0, target);
    EXPECT_EQ(rep.Result, 1);
    EXPECT_EQ(rep.SegmentsWritten, 1);
    EXPECT_EQ(rep.Unacknowledged, std::vector<std::string>{"УИР 8–11"});
    ASSERT_EQ(rep.NotTaken.size(), 1u);
    EXPECT_EQ(rep.NotTaken[0].Text, "УИР 9, опрос: разрешен → запрещен");
    EXPECT_EQ(rep.After.Uir[20].OutputEnabled, 1);
}

TEST(BlockSettings, ATableWriteNeverHeardIsListedWithItsValue)
{
    SimRig r;
    TDeviceSettings target = r.Read();
    target.UrovUnits = 3;
    r.block->SetUrovUnits(4);
    sim::TFaultRule deaf;
    deaf.Kind = sim::FaultKind::Ignore;
    deaf.Cmd = SimCmd::WriteTable;
    r.block->Inject(deaf);  // for ever
    const TRestoreReport rep = RestoreBlockSettings(r.protocol, 0, target);
    EXPECT_EQ(rep.Result, 1);
    EXPECT_EQ(r.block->RequestCount(SimCmd::WriteTable), 100u);  // the write-all's tries
    EXPECT_EQ(rep.Unacknowledged, std::vector<std::string>{"таблица МТЗ-3"});
    ASSERT_EQ(rep.NotTaken.size(), 1u);
    EXPECT_EQ(rep.NotTaken[0].Text, "Время УРОВ: 150 мс → 200 мс");
}

// ------------------------------------------------------------ damaged file

TEST(ConsoleRestore, ADamagedOrUnusableFileSendsNothing)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "kestrel_check_restore";
    std::filesystem::create_directories(dir);
    TCbSettings good = DefaultCbSettings();
    good.Address = 3;
    const std::string image = SerializeConfig({good});
    TCbSettings bad = good;
    bad.UrovTimeMs = 230;
    struct Case {
        const char* name;
        std::string bytes;
        int status;
    } const cases[] = {
        {"cut short", image.substr(0, image.size() - 7), 2},
        {"empty", std::string(), 2},
        {"UROV off the steps", SerializeConfig({bad}), 2},
        {"good, for contrast", image, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimRig r;
        const std::filesystem::path file = dir / "restore.cfg";
        std::ofstream(file, std::ios::binary | std::ios::trunc) << c.bytes;
        r.block->ResetCounts();
        bool opened = false;
        std::vector<std::string> errors;
        const int status = console::RunRestore(
            r.protocol, file.string(), 0, [&] { return opened = true; }, [](const std::string&) {},
            [&](const std::string& s) { errors.push_back(s); });
        EXPECT_EQ(status, c.status);
        EXPECT_EQ(opened, c.status == 0);
        if (c.status != 0) {
            EXPECT_EQ(r.block->TotalRequests(), 0u);
            ASSERT_FALSE(errors.empty());
            EXPECT_NE(errors[0].find("nothing sent"), std::string::npos) << errors[0];
        }
    }
    std::filesystem::remove_all(dir);
}

// ------------------------------------------------------------ the thread

struct ThreadRig : SimRig {
    ThreadRig() : thread(state, link, clock, hooks)
    {
        protocol.ClosePortForCb(0);
        // The file holds what the record holds: the block's own settings.
        TCbData& cb = *state.Cb(0);
        TCbData scratch;
        protocol.OpenPortForCb(0);
        ReadBlockSettings(protocol, 0, scratch);
        protocol.ClosePortForCb(0);
        ApplyDeviceSettings(cb, DeviceSettingsOf(scratch));
        cb.SetFileSettings(DeviceSettingsOf(cb));
        block->ResetCounts();
    }
    void Passes(int n)
    {
        for (int i = 0; i < n; ++i)
            thread.RunPass();
    }
    TProtocolAcqLink link{protocol};
    TGetDataThread thread;
};

TEST(SettingsMark, AMenuVisitIsMarkedOnlyWhenItChangedTheBlock)
{
    struct Case {
        const char* name;
        std::function<void(TSimCb&)> change;
        uint8_t marked;
    } const cases[] = {
        {"a table changed", [](TSimCb& b) { b.SetTableWire(2, 1, static_cast<uint8_t>(~0x21)); }, 1},
        {"a UIR input changed", [](TSimCb& b) { b.ConfigureUir(12, true, true, 0, 0, 2, true, true, true); }, 1},
        {"nothing changed", [](TSimCb&) {}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ThreadRig r;
        r.Passes(5);  // the journal fetch
        r.block->EnterMenu();
        c.change(*r.block);
        r.block->LeaveMenu();
        r.Passes(60);
        TCbData& cb = *r.state.Cb(0);
        ASSERT_EQ(r.block->RequestCount(SimCmd::ReadSegment), 11u);
        EXPECT_EQ(cb.SettingsChangedOnSite, c.marked);
        // The records take what the block holds, as before.
        EXPECT_EQ(DeviceSettingsOf(cb) == r.Read(), true);
    }
}

TEST(SettingsMark, AMarkedBlockKeepsTheFilesSettingsInTheFileUntilDecided)
{
    ThreadRig r;
    const std::filesystem::path file = std::filesystem::temp_directory_path() / "kestrel_check_mark.cfg";
    r.state.CfgFilePath = file.string();
    ASSERT_EQ(WriteConfigFile(r.state), 0);
    const uint8_t fileByte = r.state.Cb(0)->FuncTable[1][2];
    r.Passes(5);
    r.block->EnterMenu();
    r.block->SetTableWire(2, 1, static_cast<uint8_t>(~0x21));
    r.block->LeaveMenu();
    r.Passes(60);
    TCbData& cb = *r.state.Cb(0);
    ASSERT_EQ(cb.SettingsChangedOnSite, 1);
    ASSERT_EQ(cb.FuncTable[1][2] & 0x3F, 0x21);

    // Another save (a name edited, say) writes the file's table, not the block's.
    cb.Name = W1251("Ввод 1");
    ASSERT_EQ(WriteConfigFile(r.state), 0);
    std::vector<TCbSettings> back;
    ASSERT_EQ(LoadConfigFile(file, back), 0);
    EXPECT_EQ(back[0].FuncTable[1][2], fileByte);
    EXPECT_EQ(back[0].Name, W1251("Ввод 1"));

    // Decided: the block's settings go in.
    cb.SettingsChangedOnSite = 0;
    ASSERT_EQ(WriteConfigFile(r.state), 0);
    ASSERT_EQ(LoadConfigFile(file, back), 0);
    EXPECT_EQ(back[0].FuncTable[1][2] & 0x3F, 0x21);
    std::filesystem::remove(file);
}

}  // namespace
}  // namespace kestrel::test
