// kestrel-console as a separate program against a pseudo-terminal whose other
// end this test answers.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct ConsoleRun {
    int Status = -1;
    std::string Out;
    std::string Err;
    std::vector<std::vector<uint8_t>> Requests;
};

// Starts the console on a fresh pty and answers each request it writes with
// the next of `answers` (none left: silence).
ConsoleRun RunConsole(const std::vector<std::string>& args, std::vector<std::vector<uint8_t>> answers,
                      const std::string& interruptAfter = {})
{
    bool interrupted = false;
    ConsoleRun run;
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    grantpt(master);
    unlockpt(master);
    const std::string slave = ptsname(master);
    termios t{};
    tcgetattr(master, &t);
    cfmakeraw(&t);
    tcsetattr(master, TCSANOW, &t);

    int out[2], err[2];
    if (pipe(out) != 0 || pipe(err) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        dup2(err[1], 2);
        close(out[0]);
        close(err[0]);
        // 2400 bit/s: the block has 160 to 800 ms to answer, plenty on a loaded machine.
        std::vector<std::string> all{KESTREL_CONSOLE, "--port", slave, "--baud", "2400"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    close(err[1]);
    fcntl(out[0], F_SETFL, O_NONBLOCK);
    std::vector<uint8_t> pending;
    for (;;) {
        pollfd p[2] = {{master, POLLIN, 0}, {out[0], POLLIN, 0}};
        poll(p, 2, 5);
        uint8_t buf[256];
        if (p[0].revents & POLLIN) {
            const ssize_t n = read(master, buf, sizeof buf);
            if (n > 0)
                pending.insert(pending.end(), buf, buf + n);
        }
        // A whole frame: short (5 bytes from 0x10) or long (L + 6 from 0x68).
        while (!pending.empty()) {
            size_t need = pending[0] == 0x10 ? 5 : (pending[0] == 0x68 && pending.size() > 1 ? pending[1] + 6u : 0);
            if (need == 0 || pending.size() < need)
                break;
            run.Requests.emplace_back(pending.begin(), pending.begin() + static_cast<long>(need));
            pending.erase(pending.begin(), pending.begin() + static_cast<long>(need));
            if (!answers.empty()) {
                const auto a = answers.front();
                answers.erase(answers.begin());
                if (!a.empty() && write(master, a.data(), a.size()) < 0)
                    break;
            }
        }
        if (p[1].revents & (POLLIN | POLLHUP)) {
            const ssize_t n = read(out[0], buf, sizeof buf);
            if (n > 0)
                run.Out.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
        }
        if (!interrupted && !interruptAfter.empty() && run.Out.find(interruptAfter) != std::string::npos) {
            kill(pid, SIGINT);
            interrupted = true;
        }
        int st = 0;
        if (waitpid(pid, &st, WNOHANG) == pid) {
            ssize_t n;
            while ((n = read(out[0], buf, sizeof buf)) > 0)
                run.Out.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
            run.Status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            while ((n = read(err[0], buf, sizeof buf)) > 0)
                run.Err.append(reinterpret_cast<char*>(buf), static_cast<size_t>(n));
            break;
        }
    }
    close(out[0]);
    close(err[0]);
    close(master);
    return run;
}

TEST(ConsoleTool, SendsTheCommandAndPrintsTheTrafficLog)
{
    const ConsoleRun r = RunConsole({"--address", "1", "ReqReadClock"},
                             {{0x68, 0x09, 0x09, 0x68, 0x08, 0x01, 0x3C, 0x05, 0x30, 0x17, 0x02, 0x10, 0x13, 0xB6, 0x16}});
    EXPECT_EQ(r.Status, 0);
    ASSERT_EQ(r.Requests.size(), 1u);
    EXPECT_EQ(r.Requests[0], (std::vector<uint8_t>{0x68, 0x03, 0x03, 0x68, 0x5B, 0x01, 0x3C, 0x98, 0x16}));
    EXPECT_EQ(r.Out,
              "Переданные байты: \n68; 03; 03; 68; 5B; 01; 3C; 98; 16; \nПолученные байты: \n68; 09; 09; 68; \n"
              "08; 01; 3C; 05; 30; 17; 02; 10; 13; B6; 16; \nКонтрольная сумма: B6;\n"
              "Время/дата центрального блока: 17:30:5  2/10/13\nresult: 0\n");
}

TEST(ConsoleTool, StagedDataAndFailureStatus)
{
    const ConsoleRun r = RunConsole({"--data", "C7C7C6C10401", "ReqWriteFuncTableMtz3"}, {{0x10}});
    EXPECT_EQ(r.Status, 1);
    ASSERT_EQ(r.Requests.size(), 1u);
    EXPECT_EQ(r.Requests[0], (std::vector<uint8_t>{0x68, 0x09, 0x09, 0x68, 0x53, 0x01, 0x38, 0x38, 0x38, 0x39, 0x3E,
                                                   0x04, 0x01, 0x78, 0x16}));
    EXPECT_NE(r.Out.find("Ошибка контрольной суммы.\nresult: -5\n"), std::string::npos) << r.Out;
}

TEST(ConsoleTool, JournalRowsAfterTheLog)
{
    auto rec = [](uint8_t code, uint8_t b8) {
        std::vector<uint8_t> f{0x68, 0x0F, 0x0F, 0x68, 0x08, 0x01, 0x00, code, b8, 0xFF, 0x00, 0x40, 0x05,
                               0x07, 0x09, 0x00, 0x03, 0x03, 0x14};
        unsigned s = 0;
        for (size_t i = 4; i < f.size(); ++i)
            s += f[i];
        f.push_back(static_cast<uint8_t>(s));
        f.push_back(0x16);
        return f;
    };
    const ConsoleRun r = RunConsole({"journal"}, {{0xE5}, rec(0xD1, 0), rec(0xC0, 0xFA), {0xE5}});
    EXPECT_EQ(r.Status, 0);
    ASSERT_EQ(r.Requests.size(), 4u);
    EXPECT_NE(r.Out.find("Получение записи журнала.\n"), std::string::npos);
    EXPECT_NE(r.Out.find("\n1;   D1;   Включение питания;   3.3.2014  9:7:5.40\n"
                         "2;   C0;   Состояние выходов ЦБ (05)  101000;   3.3.2014  9:7:5.40\nresult: 0\n"),
              std::string::npos)
        << r.Out;
}

TEST(ConsoleTool, WatchPrintsEachNewEventUntilInterrupted)
{
    std::vector<uint8_t> ev{0x68, 0x0F, 0x0F, 0x68, 0x08, 0x01, 0x00, 0xD1, 0x00, 0xFF, 0x00,
                            0x40, 0x05, 0x07, 0x09, 0x00, 0x03, 0x03, 0x14};
    unsigned sum = 0;
    for (size_t i = 4; i < ev.size(); ++i)
        sum += ev[i];
    ev.push_back(static_cast<uint8_t>(sum));
    ev.push_back(0x16);
    std::vector<std::vector<uint8_t>> answers{{0xE5}, ev, {0xE5}};
    for (int i = 0; i < 20; ++i)
        answers.push_back({0xE5});  // later cycles: FCB reset, then nothing new
    const ConsoleRun r = RunConsole({"watch"}, answers, "\n");
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out.rfind("D1;   Включение питания;   3.3.2014  9:7:5.40\n", 0), 0u) << r.Out;
    EXPECT_NE(r.Out.find("result: 0\n"), std::string::npos);
    EXPECT_EQ(r.Out.find("Переданные"), std::string::npos);  // no traffic log in watch
    ASSERT_GE(r.Requests.size(), 3u);
    EXPECT_EQ(r.Requests[0], (std::vector<uint8_t>{0x10, 0x47, 0x01, 0x48, 0x16}));
    EXPECT_EQ(r.Requests[1], (std::vector<uint8_t>{0x10, 0x7B, 0x01, 0x7C, 0x16}));
    EXPECT_EQ(r.Requests[2], (std::vector<uint8_t>{0x10, 0x5B, 0x01, 0x5C, 0x16}));
}

TEST(ConsoleTool, BadUsageSendsNothing)
{
    const ConsoleRun r = RunConsole({"--parity", "9", "ReqResetLink"}, {});
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(r.Requests.empty());
    EXPECT_TRUE(r.Out.empty());
    EXPECT_EQ(r.Err.rfind("kestrel-console: bad value for --parity: 9\nusage: kestrel-console", 0), 0u) << r.Err;
}

TEST(ConsoleTool, MissingPortIsReportedAndNothingSent)
{
    std::vector<std::string> all{KESTREL_CONSOLE, "--port", "/dev/kestrel-no-such-port", "1"};
    std::string cmd;
    for (auto& a : all)
        cmd += a + " ";
    FILE* f = popen(cmd.c_str(), "r");
    ASSERT_NE(f, nullptr);
    std::string out;
    char buf[256];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, f)) > 0)
        out.append(buf, n);
    const int st = pclose(f);
    EXPECT_EQ(WEXITSTATUS(st), 1);
    EXPECT_EQ(out, "Нет такого порта, или он занят другой программой.\nresult: -1\n");
}

TEST(ConsoleTool, TimestampsOnEveryLineGapsOnFrameLines)
{
    const ConsoleRun r = RunConsole({"--timestamps", "ReqReadClock"},
                             {{0x68, 0x09, 0x09, 0x68, 0x08, 0x01, 0x3C, 0x05, 0x30, 0x17, 0x02, 0x10, 0x13, 0xB6, 0x16}});
    EXPECT_EQ(r.Status, 0) << r.Out;
    std::vector<std::string> lines;
    for (size_t at = 0; at < r.Out.size();) {
        const size_t nl = r.Out.find('\n', at);
        lines.push_back(r.Out.substr(at, nl - at));
        at = nl == std::string::npos ? r.Out.size() : nl + 1;
    }
    const std::vector<std::string> texts = {"Переданные байты: ", "68; 03; 03; 68; 5B; 01; 3C; 98; 16; ",
                                            "Полученные байты: ", "68; 09; 09; 68; ",
                                            "08; 01; 3C; 05; 30; 17; 02; 10; 13; B6; 16; ", "Контрольная сумма: B6;",
                                            "Время/дата центрального блока: 17:30:5  2/10/13", "result: 0"};
    ASSERT_EQ(lines.size(), texts.size()) << r.Out;
    std::vector<long> gaps;
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::string& l = lines[i];
        ASSERT_GE(l.size(), 13u) << l;
        // "HH:MM:SS.mmm "
        for (size_t k : {0u, 1u, 3u, 4u, 6u, 7u, 9u, 10u, 11u})
            EXPECT_TRUE(l[k] >= '0' && l[k] <= '9') << l;
        EXPECT_EQ(l.substr(2, 1) + l.substr(5, 1) + l.substr(8, 1) + l.substr(12, 1), "::. ") << l;
        std::string rest = l.substr(13);
        if (rest[0] == '+') {
            const size_t ms = rest.find(" мс ");
            ASSERT_NE(ms, std::string::npos) << l;
            gaps.push_back(std::stol(rest.substr(1, ms - 1)));
            rest = rest.substr(ms + std::string(" мс ").size());
        }
        EXPECT_EQ(rest, texts[i]);
    }
    // Gaps only on the frame lines after the first: the answer's header and body.
    ASSERT_EQ(gaps.size(), 2u) << r.Out;
    // The answer is read after the clock read's wait at 2400 bit/s: 25 x 4 x 8 ms.
    EXPECT_GE(gaps[0], 800) << r.Out;
}

TEST(ConsoleTool, CaptureFileThatCannotBeMadeStopsBeforeSending)
{
    const ConsoleRun r = RunConsole({"--capture", "/nonexistent-kestrel-dir/x.pcap", "ReqResetLink"}, {{0xE5}});
    EXPECT_EQ(r.Status, 1);
    EXPECT_TRUE(r.Requests.empty());
    EXPECT_TRUE(r.Out.empty()) << r.Out;
    EXPECT_EQ(r.Err.rfind("kestrel-console: Невозможно создать файл записи обмена \"/nonexistent-kestrel-dir/x.pcap\"", 0), 0u)
        << r.Err;
}

}  // namespace
