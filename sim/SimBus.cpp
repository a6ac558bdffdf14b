#include "SimBus.h"

namespace kestrel::sim {

namespace {
constexpr size_t kTraceKept = 20000;
}

SimBus::SimBus(IClock& clock) : clock_(clock), scenario_(*this, clock) {}

SimBus::~SimBus() = default;

TSimCb& SimBus::Attach(int32_t portNumber, const TSimCbOptions& opt)
{
    std::lock_guard lk(mu_);
    blocks_.push_back(std::make_unique<TSimCb>(clock_, mu_, opt));
    blockPorts_.push_back(portNumber);
    TPort& port = ports_[portNumber];
    port.Wire.SetTurnaroundUs(uint64_t{turnaroundMs_} * 1000);
    port.Wire.SetTrace([this](const TTraceRecord& r) {
        if (trace_.size() >= kTraceKept)
            trace_.erase(trace_.begin(), trace_.begin() + kTraceKept / 2);
        trace_.push_back(r);
    });
    port.Wire.Attach(blocks_.back().get());
    return *blocks_.back();
}

TSimCb* SimBus::Find(uint8_t address, int32_t portNumber)
{
    std::lock_guard lk(mu_);
    for (size_t i = 0; i < blocks_.size(); ++i)
        if ((portNumber == 0 || blockPorts_[i] == portNumber) && blocks_[i]->Address() == address)
            return blocks_[i].get();
    return nullptr;
}

TSimCb& SimBus::Cb(size_t i)
{
    std::lock_guard lk(mu_);
    return *blocks_.at(i);
}

void SimBus::SetTurnaroundMs(uint32_t ms)
{
    std::lock_guard lk(mu_);
    turnaroundMs_ = ms;
    for (auto& [n, port] : ports_)
        port.Wire.SetTurnaroundUs(uint64_t{ms} * 1000);
}

uint32_t SimBus::TurnaroundMs() const
{
    std::lock_guard lk(mu_);
    return turnaroundMs_;
}

std::vector<TSimCb*> SimBus::SimBlocks()
{
    std::lock_guard lk(mu_);
    std::vector<TSimCb*> v;
    for (auto& b : blocks_)
        v.push_back(b.get());
    return v;
}

bool SimBus::LoadScenario(const std::string& text, std::string& error)
{
    std::lock_guard lk(mu_);
    return scenario_.Load(text, clock_.NowMs(), error);
}

bool SimBus::Command(const std::string& line, std::string& reply)
{
    std::lock_guard lk(mu_);
    return scenario_.Command(line, reply);
}

void SimBus::Pump()
{
    std::lock_guard lk(mu_);
    PumpLocked();
}

void SimBus::PumpLocked()
{
    scenario_.Advance();
}

void SimBus::FailWrites(uint32_t err, int count)
{
    std::lock_guard lk(mu_);
    writeErr_ = err;
    writeErrCount_ = count;
}

void SimBus::FailReads(uint32_t err, int count)
{
    std::lock_guard lk(mu_);
    readErr_ = err;
    readErrCount_ = count;
}

void SimBus::SetPortBusy(int32_t portNumber, bool busy)
{
    std::lock_guard lk(mu_);
    ports_[portNumber].Busy = busy;
}

int32_t SimBus::OpenPortNumber() const
{
    std::lock_guard lk(mu_);
    return open_;
}

LineSettings SimBus::PcLine() const
{
    std::lock_guard lk(mu_);
    return pcLine_;
}

PortTimeouts SimBus::PcTimeouts() const
{
    std::lock_guard lk(mu_);
    return timeouts_;
}

uint32_t SimBus::OpenCount() const
{
    std::lock_guard lk(mu_);
    return openCount_;
}

size_t SimBus::PendingBytes() const
{
    std::lock_guard lk(mu_);
    const auto it = ports_.find(open_);
    return it == ports_.end() ? 0 : it->second.Wire.Pending();
}

std::vector<TTraceRecord> SimBus::Trace() const
{
    std::lock_guard lk(mu_);
    return trace_;
}

void SimBus::ClearTrace()
{
    std::lock_guard lk(mu_);
    trace_.clear();
}

uint32_t SimBus::Open(int32_t portNumber)
{
    std::lock_guard lk(mu_);
    PumpLocked();
    if (open_ != 0)
        return kErrAccessDenied;
    const auto it = ports_.find(portNumber);
    if (it == ports_.end() || it->second.Wire.Blocks().empty())
        return kErrFileNotFound;
    if (it->second.Busy)
        return kErrAccessDenied;
    open_ = portNumber;
    ++openCount_;
    // A freshly opened device starts with empty buffers.
    it->second.Wire.DropPending();
    it->second.Wire.ResetParsers();
    return 0;
}

void SimBus::Close()
{
    std::lock_guard lk(mu_);
    if (open_ == 0)
        return;
    // Whatever is still on its way is lost with the handle.
    ports_[open_].Wire.DropPending();
    open_ = 0;
}

bool SimBus::IsOpen() const
{
    std::lock_guard lk(mu_);
    return open_ != 0;
}

uint32_t SimBus::ApplyLineSettings(const LineSettings& s)
{
    std::lock_guard lk(mu_);
    if (open_ == 0)
        return kErrInvalidHandle;
    if (s.Baud <= 0 || s.DataBits < 5 || s.DataBits > 8 || s.Parity < 0 || s.Parity > 4 || s.StopBits < 0 ||
        s.StopBits > 2)
        return kErrInvalidParameter;
    pcLine_ = s;
    return 0;
}

void SimBus::ApplyTimeouts(const PortTimeouts& t)
{
    std::lock_guard lk(mu_);
    timeouts_ = t;
}

bool SimBus::Read(uint8_t* buf, size_t n, size_t& got, uint32_t& err)
{
    std::lock_guard lk(mu_);
    got = 0;
    err = 0;
    PumpLocked();
    if (open_ == 0) {
        err = kErrInvalidHandle;
        return false;
    }
    if (readErrCount_ > 0) {
        --readErrCount_;
        err = readErr_;
        // The bytes the driver held come with the error report.
        got = ports_[open_].Wire.ToPc(buf, n, NowUs());
        return false;
    }
    got = ports_[open_].Wire.ToPc(buf, n, NowUs());
    return true;
}

bool SimBus::Write(const uint8_t* buf, size_t n, uint32_t& err)
{
    std::lock_guard lk(mu_);
    err = 0;
    PumpLocked();
    if (open_ == 0) {
        err = kErrInvalidHandle;
        return false;
    }
    if (writeErrCount_ > 0) {
        --writeErrCount_;
        err = writeErr_;
        return false;
    }
    ports_[open_].Wire.FromPc(buf, n, NowUs(), pcLine_);
    return true;
}

}  // namespace kestrel::sim
