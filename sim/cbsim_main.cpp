// kestrel-cbsim: simulated central blocks on a pseudo-terminal.
//
//   kestrel-cbsim [--scenario FILE] [--address N ...] [--baud N]
//                 [--register COMn] [--turnaround MS] [--trace] [--check-line]
//
// --scenario may be given more than once (say, one file per block); the
// files are loaded in order and their times all count from the start.
//
// The first line of output is the terminal's path. Scenario commands may be
// typed on standard input while it runs; Ctrl-C ends it.
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "PtyServer.h"

namespace {

std::atomic<bool> gStop{false};

extern "C" void OnSignal(int)
{
    gStop.store(true);
}

void Usage(FILE* f)
{
    std::fprintf(f,
                 "usage: kestrel-cbsim [--scenario FILE] [--address N ...] [--baud N] [--register COMn]\n"
                 "                     [--turnaround MS] [--trace] [--check-line]\n"
                 "Serves simulated central blocks on a new pseudo-terminal and prints its path first.\n"
                 "--check-line: blocks hear only a PC whose terminal speed is theirs.\n"
                 "--scenario may be repeated: the files are loaded in order.\n"
                 "Commands typed on standard input:\n%s\n",
                 kestrel::sim::TSimScenario::HelpText());
}

bool ParseNumber(const char* s, long lo, long hi, long& v)
{
    char* end = nullptr;
    v = std::strtol(s, &end, 10);
    return *s && *end == '\0' && v >= lo && v <= hi;
}

bool WriteMapping(const std::string& file, const std::string& path, std::string& error)
{
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path(), ec);
    if (ec) {
        error = ec.message();
        return false;
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << path;
    out.close();
    if (!out) {
        error = "cannot write " + file;
        return false;
    }
    return true;
}

// Removes the mapping only when it still names our terminal.
void RemoveMapping(const std::string& file, const std::string& path)
{
    std::ifstream in(file, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    in.close();
    if (ss.str() == path)
        std::filesystem::remove(file);
}

}  // namespace

int main(int argc, char** argv)
{
    using namespace kestrel::sim;
    TPtyServerOptions opt;
    opt.Addresses.clear();
    std::vector<std::string> scenarioFiles;
    std::string comName;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        long v;
        auto next = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            return 0;
        } else if (a == "--trace") {
            opt.Trace = true;
        } else if (a == "--check-line") {
            opt.CheckLine = true;
        } else if (a == "--scenario") {
            const char* s = next();
            if (!s) { Usage(stderr); return 2; }
            scenarioFiles.push_back(s);
        } else if (a == "--address") {
            const char* s = next();
            if (!s || !ParseNumber(s, 1, 254, v)) {
                std::fprintf(stderr, "kestrel-cbsim: --address needs a number 1..254\n");
                return 2;
            }
            opt.Addresses.push_back(static_cast<uint8_t>(v));
            // Further plain numbers are more addresses.
            while (i + 1 < argc && argv[i + 1][0] != '-' && ParseNumber(argv[i + 1], 1, 254, v)) {
                opt.Addresses.push_back(static_cast<uint8_t>(v));
                ++i;
            }
        } else if (a == "--baud") {
            const char* s = next();
            if (!s || !ParseNumber(s, 110, 921600, v)) {
                std::fprintf(stderr, "kestrel-cbsim: --baud needs a speed\n");
                return 2;
            }
            opt.Baud = static_cast<int32_t>(v);
        } else if (a == "--turnaround") {
            const char* s = next();
            if (!s || !ParseNumber(s, 0, 10000, v)) {
                std::fprintf(stderr, "kestrel-cbsim: --turnaround needs milliseconds\n");
                return 2;
            }
            opt.TurnaroundMs = static_cast<uint32_t>(v);
        } else if (a == "--register") {
            const char* s = next();
            comName = s ? NormalizeComName(s) : std::string();
            if (comName.empty()) {
                std::fprintf(stderr, "kestrel-cbsim: --register needs a port name COM1..COM255\n");
                return 2;
            }
        } else {
            std::fprintf(stderr, "kestrel-cbsim: unknown option %s\n", a.c_str());
            Usage(stderr);
            return 2;
        }
    }
    if (opt.Addresses.empty())
        opt.Addresses.push_back(1);
    for (size_t i = 0; i < opt.Addresses.size(); ++i)
        for (size_t j = i + 1; j < opt.Addresses.size(); ++j)
            if (opt.Addresses[i] == opt.Addresses[j]) {
                std::fprintf(stderr, "kestrel-cbsim: address %u given twice\n", opt.Addresses[i]);
                return 2;
            }

    std::vector<std::string> scenarios;
    for (const std::string& file : scenarioFiles) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "kestrel-cbsim: cannot read %s\n", file.c_str());
            return 1;
        }
        std::stringstream ss;
        ss << in.rdbuf();
        scenarios.push_back(ss.str());
    }

    kestrel::SystemClock& clock = kestrel::SystemClock::Instance();
    TPtyServer server(clock, opt, stdout);
    std::string error;
    for (size_t i = 0; i < scenarios.size(); ++i) {
        if (!scenarios[i].empty() && !server.LoadScenario(scenarios[i], error)) {
            std::fprintf(stderr, "kestrel-cbsim: %s: %s\n", scenarioFiles[i].c_str(), error.c_str());
            return 1;
        }
    }
    std::string path;
    if (!server.OpenPty(path, error)) {
        std::fprintf(stderr, "kestrel-cbsim: %s\n", error.c_str());
        return 1;
    }
    // The mapping is in place before the path is announced: whoever starts
    // the utility on seeing the first line finds the port already named.
    std::string mapping;
    if (!comName.empty()) {
        mapping = PortMappingFile(comName);
        if (mapping.empty() || !WriteMapping(mapping, path, error)) {
            std::fprintf(stderr, "kestrel-cbsim: cannot register %s: %s\n", comName.c_str(),
                         mapping.empty() ? "neither XDG_CONFIG_HOME nor HOME is set" : error.c_str());
            return 1;
        }
        std::fprintf(stderr, "kestrel-cbsim: %s -> %s (%s)\n", comName.c_str(), path.c_str(), mapping.c_str());
    }
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    server.Serve(gStop, STDIN_FILENO);

    if (!mapping.empty())
        RemoveMapping(mapping, path);
    return 0;
}
