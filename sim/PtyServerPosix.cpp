#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <thread>
#include <utility>

#include "PtyServer.h"

namespace kestrel::sim {

namespace {

std::string Hex(const std::vector<uint8_t>& b)
{
    std::string s;
    char buf[4];
    for (size_t i = 0; i < b.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? " %02X" : "%02X", b[i]);
        s += buf;
    }
    return s;
}

}  // namespace

std::string NormalizeComName(const std::string& s)
{
    std::string digits = s;
    if (s.size() > 3 && (s.compare(0, 3, "COM") == 0 || s.compare(0, 3, "com") == 0))
        digits = s.substr(3);
    if (digits.empty() || digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return {};
    const int n = std::atoi(digits.c_str());
    if (n < 1 || n > 255)
        return {};
    return "COM" + std::to_string(n);
}

std::string PortMappingFile(const std::string& comName)
{
    std::string root;
    if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
        root = std::string(x) + "/KestrelUtilite/registry";
    else if (const char* h = std::getenv("HOME"); h && *h)
        root = std::string(h) + "/.config/KestrelUtilite/registry";
    else
        return {};
    return root + "/Software/KestrelUtilite/Ports/" + comName;
}

TPtyServer::TPtyServer(IClock& clock, const TPtyServerOptions& opt, FILE* out)
    : clock_(clock), opt_(opt), out_(out), scenario_(*this, clock)
{
    startUs_ = NowUs();
    wire_.SetTurnaroundUs(uint64_t{opt.TurnaroundMs} * 1000);
    for (uint8_t a : opt.Addresses) {
        TSimCbOptions o;
        o.Address = a;
        o.Line.Baud = opt.Baud;
        blocks_.push_back(std::make_unique<TSimCb>(clock_, mu_, o));
        TSimCb* cb = blocks_.back().get();
        wire_.Attach(cb);
        cb->SetOnEvent([this, a](const TSimEvent& e) {
            Print("CB " + std::to_string(a) + " event: " + DescribeEvent(e));
        });
    }
    wire_.SetTrace([this](const TTraceRecord& r) { OnTrace(r); });
    scenario_.SetOutput([this](const std::string& s) { Print(s); });
    // The blocks' clocks start at the host's local time.
    std::string reply;
    for (uint8_t a : opt.Addresses)
        scenario_.Command("cb " + std::to_string(a) + " clock now", reply);
}

TPtyServer::~TPtyServer()
{
    if (master_ >= 0)
        ::close(master_);
}

uint64_t TPtyServer::NowUs() const
{
    using namespace std::chrono;
    return static_cast<uint64_t>(duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

void TPtyServer::Print(const std::string& line)
{
    const double t = static_cast<double>(NowUs() - startUs_) / 1e6;
    std::fprintf(out_, "%9.3f %s\n", t, line.c_str());
    std::fflush(out_);
}

void TPtyServer::OnTrace(const TTraceRecord& r)
{
    if (!opt_.Trace)
        return;
    if (!r.ToPc) {
        std::string s = "PC -> " + Hex(r.Bytes);
        if (opt_.CheckLine)
            s += " (" + std::to_string(r.Line.Baud) + " bit/s)";
        Print(s);
        return;
    }
    std::string s = "CB " + std::to_string(r.Address) + " <- " + SimCmdName(r.Cmd) + (r.Repeated ? " (repeated)" : "");
    s += r.Bytes.empty() ? ", no answer" : ", answers " + Hex(r.Bytes);
    Print(s);
}

bool TPtyServer::OpenPty(std::string& path, std::string& error)
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    const char* name = ::ptsname(master_);
    if (!name) {
        error = std::string("ptsname: ") + std::strerror(errno);
        return false;
    }
    path = name;
    termios t{};
    if (::tcgetattr(master_, &t) == 0) {
        ::cfmakeraw(&t);
        ::tcsetattr(master_, TCSANOW, &t);
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    return true;
}

bool TPtyServer::LoadScenario(const std::string& text, std::string& error)
{
    std::lock_guard lk(mu_);
    return scenario_.Load(text, clock_.NowMs(), error);
}

std::vector<TSimCb*> TPtyServer::SimBlocks()
{
    std::vector<TSimCb*> v;
    for (auto& b : blocks_)
        v.push_back(b.get());
    return v;
}

void TPtyServer::SetTurnaroundMs(uint32_t ms)
{
    opt_.TurnaroundMs = ms;
    wire_.SetTurnaroundUs(uint64_t{ms} * 1000);
}

uint32_t TPtyServer::TurnaroundMs() const
{
    return opt_.TurnaroundMs;
}

void TPtyServer::HandleInput(const std::string& line)
{
    std::string reply;
    scenario_.Command(line, reply);
    if (!reply.empty()) {
        std::fprintf(out_, "%s\n", reply.c_str());
        std::fflush(out_);
    }
}

LineSettings TPtyServer::PcLine() const
{
    LineSettings s{opt_.Baud, 8, 2, 0};
    termios t{};
    if (::tcgetattr(master_, &t) != 0)
        return s;
    // A pseudo-terminal keeps the speed its user gave the slave side.
    struct {
        speed_t Code;
        int32_t Baud;
    } static const kSpeeds[] = {{B110, 110},     {B300, 300},     {B600, 600},       {B1200, 1200},
                                {B2400, 2400},   {B4800, 4800},   {B9600, 9600},     {B19200, 19200},
                                {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400}};
    const speed_t sp = ::cfgetospeed(&t);
    s.Baud = 0;
    for (const auto& k : kSpeeds)
        if (k.Code == sp)
            s.Baud = k.Baud;
    // Only the speed: the pseudo-terminal driver forces 8 data bits without
    // parity whatever its user asks, so the framing cannot be seen here.
    return s;
}

void TPtyServer::Serve(const std::atomic<bool>& stop, int inFd)
{
    std::vector<uint8_t> buf(4096);
    bool slaveGone = true;
    while (!stop.load() && !scenario_.QuitRequested()) {
        // Sleep until the next answer byte is due, a scenario line is due,
        // or input arrives.
        int timeoutMs = 50;
        {
            std::lock_guard lk(mu_);
            const uint64_t now = NowUs();
            const uint64_t next = wire_.NextArrivalUs();
            if (next != std::numeric_limits<uint64_t>::max())
                timeoutMs = next <= now ? 0 : static_cast<int>(std::min<uint64_t>((next - now + 999) / 1000, 50));
            const uint64_t due = scenario_.NextDueMs();
            const uint64_t nowMs = clock_.NowMs();
            if (due != std::numeric_limits<uint64_t>::max())
                timeoutMs = std::min<int>(timeoutMs, due <= nowMs ? 0 : static_cast<int>(std::min<uint64_t>(due - nowMs, 50)));
        }
        pollfd fds[2] = {{master_, POLLIN, 0}, {inFd, POLLIN, 0}};
        const int nfds = inFd >= 0 ? 2 : 1;
        if (::poll(fds, static_cast<nfds_t>(nfds), timeoutMs) < 0 && errno != EINTR)
            break;

        std::lock_guard lk(mu_);
        bool hangUp = (fds[0].revents & (POLLHUP | POLLERR)) != 0;
        if (fds[0].revents & POLLIN) {
            const ssize_t n = ::read(master_, buf.data(), buf.size());
            if (n > 0) {
                slaveGone = false;
                if (opt_.CheckLine)
                    wire_.FromPc(buf.data(), static_cast<size_t>(n), NowUs(), PcLine());
                else
                    wire_.FromPcAnyLine(buf.data(), static_cast<size_t>(n), NowUs());
            } else if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                hangUp = true;  // EIO: the last holder of the terminal closed it
            }
        }
        if (hangUp) {
            // Nobody holds the terminal: what was on its way is lost with the
            // PC's handle, as with a closed serial port.
            if (!slaveGone) {
                wire_.DropPending();
                wire_.ResetParsers();
                slaveGone = true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (wire_.Pending() > 0) {
            const size_t n = wire_.ToPc(buf.data(), buf.size(), NowUs());
            size_t off = 0;
            while (off < n) {
                const ssize_t w = ::write(master_, buf.data() + off, n - off);
                if (w > 0) {
                    off += static_cast<size_t>(w);
                } else if (w < 0 && errno == EINTR) {
                    continue;
                } else {
                    break;  // the terminal is gone or full: the bytes are lost
                }
            }
        }
        if (nfds == 2 && (fds[1].revents & (POLLIN | POLLHUP))) {
            char tmp[512];
            const ssize_t n = ::read(inFd, tmp, sizeof tmp);
            if (n <= 0) {
                inFd = -1;  // end of input: keep serving
                if (!inBuf_.empty())
                    HandleInput(std::exchange(inBuf_, {}));
            } else {
                inBuf_.append(tmp, static_cast<size_t>(n));
                for (size_t nl; (nl = inBuf_.find('\n')) != std::string::npos;) {
                    std::string l = inBuf_.substr(0, nl);
                    inBuf_.erase(0, nl + 1);
                    if (!l.empty() && l.back() == '\r')
                        l.pop_back();
                    HandleInput(l);
                }
            }
        }
        scenario_.Advance();
    }
}

}  // namespace kestrel::sim
