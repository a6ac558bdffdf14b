#pragma once
// Runs kestrel-cbsim (or another tool) as a child process with pipes on its
// standard input and output, for the tests on a real pseudo-terminal.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kestrel::sim::test {

class TChildProcess {
public:
    TChildProcess() = default;
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;
    ~TChildProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (in_ >= 0)
            ::close(in_);
        if (out_ >= 0)
            ::close(out_);
    }

    // `env` entries ("NAME=value") replace or extend the parent's environment.
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env = {})
    {
        std::vector<std::string> envs;
        for (char** e = environ; *e; ++e) {
            const std::string s = *e;
            bool replaced = false;
            for (const auto& x : env)
                replaced |= s.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
            if (!replaced)
                envs.push_back(s);
        }
        envs.insert(envs.end(), env.begin(), env.end());
        std::vector<char*> cargv, cenv;
        for (const auto& a : argv)
            cargv.push_back(const_cast<char*>(a.c_str()));
        cargv.push_back(nullptr);
        for (const auto& e : envs)
            cenv.push_back(const_cast<char*>(e.c_str()));
        cenv.push_back(nullptr);

        int inPipe[2], outPipe[2];
        if (::pipe(inPipe) != 0 || ::pipe(outPipe) != 0)
            return false;
        pid_ = ::fork();
        if (pid_ < 0)
            return false;
        if (pid_ == 0) {
            ::dup2(inPipe[0], 0);
            ::dup2(outPipe[1], 1);
            ::close(inPipe[0]);
            ::close(inPipe[1]);
            ::close(outPipe[0]);
            ::close(outPipe[1]);
            ::execve(cargv[0], cargv.data(), cenv.data());
            ::_exit(127);
        }
        ::close(inPipe[0]);
        ::close(outPipe[1]);
        in_ = inPipe[1];
        out_ = outPipe[0];
        return true;
    }

    // One line of the child's output (without the newline); false on time-out
    // or end of output. The default time-outs only guard against a hang: a
    // busy host may hold a child back for seconds.
    bool ReadLine(std::string& line, int timeoutMs = 30000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (const auto nl = buf_.find('\n'); nl != std::string::npos) {
                line = buf_.substr(0, nl);
                buf_.erase(0, nl + 1);
                all_ += line + "\n";
                return true;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p{out_, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left)) <= 0)
                continue;
            char tmp[1024];
            const ssize_t n = ::read(out_, tmp, sizeof tmp);
            if (n <= 0)
                return false;
            buf_.append(tmp, static_cast<size_t>(n));
        }
    }

    // Reads lines until one contains `what`; false on time-out.
    bool WaitFor(const std::string& what, int timeoutMs = 30000)
    {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::string line;
        while (std::chrono::steady_clock::now() < until) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now()).count();
            if (!ReadLine(line, static_cast<int>(left)))
                return false;
            if (line.find(what) != std::string::npos)
                return true;
        }
        return false;
    }

    void Send(const std::string& line)
    {
        const std::string s = line + "\n";
        [[maybe_unused]] const ssize_t n = ::write(in_, s.data(), s.size());
    }

    // Sends a signal and waits (up to timeoutMs) for the exit; the exit code,
    // or -1 when it did not end normally in time.
    int StopWith(int sig, int timeoutMs = 30000)
    {
        if (pid_ <= 0)
            return -1;
        ::kill(pid_, sig);
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        int status = 0;
        while (std::chrono::steady_clock::now() < until) {
            const pid_t r = ::waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

    // Everything read so far, for failure messages.
    const std::string& Output() const { return all_; }

private:
    pid_t pid_ = -1;
    int in_ = -1, out_ = -1;
    std::string buf_, all_;
};

// A fresh folder under the system's temporary directory, removed at the end.
// The standard output of a shell command.
inline std::string RunCommand(const std::string& cmd)
{
    std::string out;
    FILE* f = popen(cmd.c_str(), "r");
    char buf[4096];
    for (size_t n; f && (n = fread(buf, 1, sizeof buf, f)) > 0;)
        out.append(buf, n);
    if (f)
        pclose(f);
    return out;
}

class TTempDir {
public:
    TTempDir()
    {
        std::string t = (std::filesystem::temp_directory_path() / "kestrel-sim-XXXXXX").string();
        if (::mkdtemp(t.data()))
            path_ = t;
    }
    ~TTempDir()
    {
        std::error_code ec;
        if (!path_.empty())
            std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& Path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Starts the simulator with --trace, the scenario `text` written into `dir`
// and its settings store there, plus `extra` arguments; `pty` gets the
// terminal it prints first.
inline bool StartTracedSim(TChildProcess& sim, const std::string& cbsim, const TTempDir& dir, const std::string& text,
                           const std::vector<std::string>& extra, std::string& pty)
{
    const auto scenario = dir.Path() / "scenario.txt";
    std::ofstream(scenario) << text;
    std::vector<std::string> argv{cbsim, "--scenario", scenario.string(), "--trace"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    return sim.Start(argv, {"XDG_CONFIG_HOME=" + dir.Path().string()}) && sim.ReadLine(pty);
}

}  // namespace kestrel::sim::test
