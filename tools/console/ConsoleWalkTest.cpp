#include "ConsoleWalkTest.h"

#include "ConsoleSettings.h"

#include "check/BlockSettingsIo.h"
#include "check/SettingsCheck.h"
#include "state/ConfigFile.h"
#include "walktest/WalkTest.h"

namespace kestrel::console {

int RunWalkTest(TCbProtocol& p, const std::string& outFile, const std::function<bool()>& stop,
                const std::function<int64_t()>& nowMs, const TLinePrint& out, const TLinePrint& err)
{
    // The settings the test is judged by are the block's own, read now.
    TCbData scratch;
    p.OpenPortForCb(0);
    const int read = ReadBlockSettings(p, 0, scratch);
    p.ClosePortForCb(0);
    if (read < 0) {
        err("reading the block failed (" + std::to_string(read) + "): " + BlockReadFailureText(read));
        return 1;
    }
    const TDeviceSettings device = DeviceSettingsOf(scratch);
    const TCbSettings settings = BlockAsFileSettings(*p.Link().State().Cb(0), device);
    TWalkTest test(settings, 1, SettingsFingerprint(device), nowMs());
    const TWalkSummary start = test.Summary();
    out("проверка датчиков: контролируемых входов " + std::to_string(start.Monitored) + ", отпечаток настроек " +
        test.Fingerprint());

    bool saveFailed = false;
    const auto keep = [&] {
        if (outFile.empty() || test.SaveTo(outFile) == 0)
            return;
        if (!saveFailed)
            err("cannot write " + outFile + "; the test goes on");
        saveFailed = true;
    };
    const auto print = [&](const std::vector<TWalkNote>& notes) {
        for (const TWalkNote& n : notes)
            out(TWalkTest::PcTimeText(nowMs()) + "  " + n.Text);
        if (!notes.empty())
            keep();
    };
    keep();
    while (!stop()) {
        p.OpenPortForCb(0);
        p.ReqEventCycle(0, stop);
        p.ClosePortForCb(0);
        for (const TEventData& e : p.LastCycleEvents())
            print(test.OnEvent(e, nowMs()));
        print(test.OnTime(nowMs()));
        p.Link().Sleeper().SleepMs(100);  // as often as the thread's event cycles
    }
    print(test.Finish(nowMs()));
    keep();
    const TWalkSummary s = test.Summary();
    out("итог: норма " + std::to_string(s.Passed) + ", ошибки " + std::to_string(s.Failed) + ", не проверено " +
        std::to_string(s.Untested) + " из " + std::to_string(s.Monitored) + ", неисправностей " +
        std::to_string(s.Faults));
    for (int u = 1; u <= kUirCount; ++u)
        for (int i = 1; i <= 3; ++i) {
            const TInputResult& r = test.Result(u, i);
            if (r.Verdict == TInputVerdict::Failed)
                out("  УИР " + std::to_string(u) + ", вход " + std::to_string(i) + ": ошибка, " + r.Reason);
            else if (r.Monitored && r.Verdict == TInputVerdict::Untested)
                out("  УИР " + std::to_string(u) + ", вход " + std::to_string(i) + ": не проверен");
        }
    return test.AllPassed() ? 0 : 1;
}

}  // namespace kestrel::console
