// kestrel-democfg [--cbs N] [--com N] [--parity P] FILE: writes the configuration of the demo
// installation that sim/scenarios/demo.txt (and, for a second block,
// demo-cb2.txt) simulate. One block (the default): at address 1 on COM1, 43
// UIRs present, UIRs 1-6 polled with their outputs on. With --cbs N, N blocks
// on the one line of COM1 at addresses 1..N, named "ЦБ 1" .. "ЦБ N", each
// set up the same way. --com and --parity move every block to COMn and to
// parity code P (0 none, 1 odd, 2 even): a pseudo-terminal under Wine refuses
// parity, and Wine's COM1 is the machine's own first serial port.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "state/ConfigFile.h"
#include "state/Cp1251.h"
#include "state/Model.h"

namespace {

struct TLine {
    int Com = 1;
    int Parity = 2;
};

void SetUpBlock(kestrel::TCbData& cb, int index, bool named, const TLine& line)
{
    cb.Name = kestrel::W1251(named ? "ЦБ " + std::to_string(index + 1) : std::string("СБ №1 (демо)"));
    cb.PortNumber = static_cast<uint8_t>(line.Com);
    cb.Parity = line.Parity;
    cb.Address = static_cast<uint8_t>(index + 1);
    cb.Baud = 9600;
    for (int i = 0; i < kestrel::kUirCount; ++i) {
        kestrel::TUirData& u = cb.Uir[i];
        u.Present = 1;
        u.Number = static_cast<uint8_t>(i + 1);
        u.Name = kestrel::W1251("УИР №" + std::to_string(i + 1));
        if (i < 6) {
            u.PollEnabled = 1;
            u.OutputEnabled = 1;
            for (int n = 1; n <= 3; ++n) {
                u.InputControl(n) = 1;
                u.InputFunction(n) = static_cast<uint8_t>(n - 1);
            }
        } else if (i == 6) {
            for (int n = 1; n <= 3; ++n)
                u.InputFunction(n) = 3;
        }
    }
}

int Usage()
{
    std::fprintf(stderr, "usage: kestrel-democfg [--cbs N] [--com N] [--parity P] FILE\n"
                         "  N blocks 1..254 (default 1), COM1..COM255 (default COM1), parity 0..2 (default 2, even)\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv)
{
    int count = 1;
    bool named = false;
    TLine line;
    const char* file = nullptr;
    auto number = [&](int& i, long lo, long hi, long& out) {
        if (i + 1 >= argc)
            return false;
        char* end = nullptr;
        out = std::strtol(argv[++i], &end, 10);
        return *end == '\0' && out >= lo && out <= hi;
    };
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--cbs") == 0) {
            long n = 0;
            if (!number(i, 1, 254, n))  // one link address each
                return Usage();
            count = static_cast<int>(n);
            named = true;
        } else if (std::strcmp(argv[i], "--com") == 0) {
            long n = 0;
            if (!number(i, 1, 255, n))
                return Usage();
            line.Com = static_cast<int>(n);
        } else if (std::strcmp(argv[i], "--parity") == 0) {
            long n = 0;
            if (!number(i, 0, 2, n))
                return Usage();
            line.Parity = static_cast<int>(n);
        } else if (file == nullptr && argv[i][0] != '-') {
            file = argv[i];
        } else {
            return Usage();
        }
    }
    if (file == nullptr)
        return Usage();

    kestrel::TGlobalState state;
    {
        std::lock_guard lock(state.RecordLock);
        state.EnsureAllocated(count);
        state.CbCount = count;
    }
    for (int i = 0; i < count; ++i)
        SetUpBlock(*state.Cb(i), i, named, line);
    state.CfgFilePath = file;
    if (kestrel::WriteConfigFile(state) != 0) {
        std::fprintf(stderr, "kestrel-democfg: cannot write %s\n", file);
        return 1;
    }
    return 0;
}
