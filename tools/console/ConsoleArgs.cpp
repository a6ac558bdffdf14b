#include "ConsoleArgs.h"

#include <cctype>
#include <charconv>
#include <utility>

namespace kestrel::console {

namespace {

const std::pair<const char*, int32_t> kNames[] = {
    {"ReqResetLink", 1},           {"ReqReadJournalRecord", 2},   {"ReqReadFuncTableNoMtz", 3},
    {"ReqReadFuncTableMtz1", 4},   {"ReqReadFuncTableMtz2", 5},   {"ReqReadFuncTableMtz3", 6},
    {"ReqResetFcb", 7},            {"ReqReadClock", 8},           {"ReqReadUirSegment", 9},
    {"ReqClearJournal", 10},       {"ReqWriteFuncTableNoMtz", 11}, {"ReqWriteFuncTableMtz1", 12},
    {"ReqWriteFuncTableMtz2", 13}, {"ReqWriteFuncTableMtz3", 14}, {"ReqWriteClock", 15},
    {"ReqWriteUirSegment", 16},    {"ReqResetCb", 17},            {"ReqSetAddress", 18},
    {"ReqSetSpeed", 19},           {"ReqLinkStatus", 20},         {"ReqPollEvent", 21},
    {"ReqStopClock", 22},          {"ReqReadJournalRecord2", 23}, {"ReqFetchJournal", 101},
    {"ReqReadAllFuncTables", 102}, {"ReqWriteAllFuncTables", 103}, {"ReqReadUirConfig", 104},
    {"ReqWriteUirConfig", 105},    {"ReqEventCycle", 106},        {"ReqFetchJournal2", 107},
};

bool ToInt(const std::string& s, int64_t& v)
{
    if (s.empty())
        return false;
    const char* b = s.data();
    const char* e = s.data() + s.size();
    auto [p, ec] = std::from_chars(b, e, v);
    return ec == std::errc() && p == e;
}

bool IntIn(const std::string& s, int64_t lo, int64_t hi, int32_t& out)
{
    int64_t v = 0;
    if (!ToInt(s, v) || v < lo || v > hi)
        return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool ParseHex(const std::string& s, std::vector<uint8_t>& out)
{
    if (s.size() % 2 != 0)
        return false;
    out.clear();
    for (size_t i = 0; i < s.size(); i += 2) {
        unsigned v = 0;
        auto [p, ec] = std::from_chars(s.data() + i, s.data() + i + 2, v, 16);
        if (ec != std::errc() || p != s.data() + i + 2)
            return false;
        out.push_back(static_cast<uint8_t>(v));
    }
    return true;
}

}  // namespace

const char* Usage()
{
    return "usage: kestrel-console [--port COMn|N|PATH] [--baud N] [--data-bits N] [--parity 0..4]\n"
           "                       [--stop-bits 0..2] [--address N] [--fcb 0|1] [--segment N] [--data HEX]\n"
           "                       [--capture FILE] [--timestamps] COMMAND\n"
           "       kestrel-console --help | -h\n"
           "COMMAND: a request name (ReqReadClock) or its code (8), journal, watch,\n"
           "         compare FILE [--cb N], snapshot OUT, restore FILE [--cb N], or\n"
           "         walktest [--out FILE]\n"
           "compare  the block's settings (tables, UROV, MTZ wait, UIR configuration) against\n"
           "         block N of FILE (default: the first block at the console's --address);\n"
           "         exit 0 equal, 1 they differ, 2 a failure\n"
           "snapshot the block's settings into OUT, a configuration file of one block\n"
           "restore  FILE's settings into the block, then read back; FILE is checked whole\n"
           "         first and nothing is sent when it is damaged (exit 2); exit 0 only when\n"
           "         every value took\n"
           "walktest the commissioning test: the block's settings are read, then every arc it\n"
           "         reports is checked against its function tables and printed; Ctrl-C ends it\n"
           "         with the summary (and FILE, kept after every result); exit 0 only when\n"
           "         every monitored input passed\n"
           "--capture FILE  write every frame sent and received to FILE (pcap, link type 250,\n"
           "                RTAC serial); read it with: tshark -r FILE -d rtacser.data,iec60870_101\n"
           "                --disable-protocol iec60870_asdu\n"
           "--timestamps    prefix every printed line with the PC time (HH:MM:SS.mmm) and each\n"
           "                line of frame bytes with the gap since the previous one (+N мс)\n"
           "exit status: 0 the command succeeded, 1 it failed (or the capture file could not\n"
           "             be created), 2 bad usage\n";
}

int32_t CodeOf(const std::string& s)
{
    for (const auto& [name, code] : kNames)
        if (s == name)
            return code;
    int64_t v = 0;
    if (ToInt(s, v)) {
        for (const auto& entry : kNames)
            if (entry.second == v)
                return entry.second;
    }
    return 0;
}

bool ParseArgs(const std::vector<std::string>& args, Options& o, std::string& error)
{
    // Before anything else, so that "--port --help" asks for help too.
    for (const std::string& a : args)
        if (a == "--help" || a == "-h") {
            o.Help = true;
            return true;
        }
    bool haveCommand = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--timestamps") {
            o.Timestamps = true;
            continue;
        }
        if (a.rfind("--", 0) == 0) {
            if (i + 1 >= args.size()) {
                error = "option " + a + " needs a value";
                return false;
            }
            const std::string& v = args[++i];
            bool ok = true;
            if (a == "--port") {
                int32_t n = 0;
                if (v.size() > 3 && (v.compare(0, 3, "COM") == 0 || v.compare(0, 3, "com") == 0) &&
                    IntIn(v.substr(3), 1, 255, n)) {
                    o.PortNumber = n;
                } else if (IntIn(v, 1, 255, n)) {
                    o.PortNumber = n;
                } else if (v.find('/') != std::string::npos) {
                    o.PortPath = v;
                    o.PortNumber = 1;
                } else {
                    ok = false;
                }
            } else if (a == "--baud") {
                ok = IntIn(v, 1, 4000000, o.Baud);
            } else if (a == "--data-bits") {
                ok = IntIn(v, 5, 8, o.DataBits);
            } else if (a == "--parity") {
                ok = IntIn(v, 0, 4, o.Parity);
            } else if (a == "--stop-bits") {
                ok = IntIn(v, 0, 2, o.StopBits);
            } else if (a == "--address") {
                ok = IntIn(v, 0, 255, o.Address);
            } else if (a == "--fcb") {
                int32_t f = 0;
                ok = IntIn(v, 0, 1, f);
                o.Fcb = f != 0;
            } else if (a == "--segment") {
                ok = IntIn(v, 0, 63, o.Segment);  // the first slot 4 x segment must fit a byte
            } else if (a == "--cb") {
                ok = IntIn(v, 1, 255, o.CbNumber);
            } else if (a == "--out") {
                ok = !v.empty() && v.rfind("--", 0) != 0;
                o.OutPath = v;
            } else if (a == "--capture") {
                ok = !v.empty() && v.rfind("--", 0) != 0;
                o.CapturePath = v;
            } else if (a == "--data") {
                ok = ParseHex(v, o.Data) && !o.Data.empty() && o.Data.size() <= 9;
                o.HaveData = ok;
            } else {
                error = "unknown option " + a;
                return false;
            }
            if (!ok) {
                error = "bad value for " + a + ": " + v;
                return false;
            }
            continue;
        }
        const bool takesFile =
            o.What == Action::Compare || o.What == Action::Snapshot || o.What == Action::Restore;
        if (haveCommand && takesFile && o.File.empty()) {
            o.File = a;
            continue;
        }
        if (haveCommand) {
            error = "more than one command: " + a;
            return false;
        }
        haveCommand = true;
        if (a == "compare") {
            o.What = Action::Compare;
        } else if (a == "snapshot") {
            o.What = Action::Snapshot;
        } else if (a == "restore") {
            o.What = Action::Restore;
        } else if (a == "walktest") {
            o.What = Action::WalkTest;
        } else if (a == "journal") {
            o.What = Action::Journal;
        } else if (a == "watch") {
            o.What = Action::Watch;
        } else {
            o.What = Action::Code;
            o.Code = CodeOf(a);
            if (o.Code == 0) {
                error = "unknown command " + a;
                return false;
            }
        }
    }
    if (!haveCommand) {
        error = "no command given";
        return false;
    }
    if ((o.What == Action::Compare || o.What == Action::Snapshot || o.What == Action::Restore) && o.File.empty()) {
        error = "the command needs a file";
        return false;
    }
    if (!o.OutPath.empty() && o.What != Action::WalkTest) {
        error = "--out goes with walktest only";
        return false;
    }
    if (o.CbNumber != 0 && o.What != Action::Compare && o.What != Action::Restore) {
        error = "--cb goes with compare and restore only";
        return false;
    }
    return true;
}

}  // namespace kestrel::console
