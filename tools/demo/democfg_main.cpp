// kestrel-democfg FILE: writes the configuration of the demo installation
// that sim/scenarios/demo.txt simulates (one CB at address 1 on COM1, 43 UIRs
// present, UIRs 1-6 polled with their outputs on).
#include <cstdio>

#include "state/ConfigFile.h"
#include "state/Cp1251.h"
#include "state/Model.h"

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kestrel-democfg FILE\n");
        return 2;
    }
    kestrel::TGlobalState state;
    state.MarkAllUirsPresent();
    kestrel::TCbData& cb = *state.Current();
    cb.Name = kestrel::W1251("СБ №1 (демо)");
    cb.PortNumber = 1;
    cb.Address = 1;
    cb.Baud = 9600;
    for (int i = 0; i < kestrel::kUirCount; ++i) {
        kestrel::TUirData& u = cb.Uir[i];
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
    state.CfgFilePath = argv[1];
    if (kestrel::WriteConfigFile(state) != 0) {
        std::fprintf(stderr, "kestrel-democfg: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
