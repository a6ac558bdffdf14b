#include "link/Link.h"

#include <cstdio>
#include <stdexcept>

#include "link/PcapCapture.h"

namespace kestrel {

namespace {

const char* const kNoAnswer = "Нет ответа от центрального блока (ЦБ)";
const char* const kSent = "Переданные байты: ";
const char* const kReceived = "Полученные байты: ";
const char* const kHeaderByte0 = "Нулевой байт не равен 0x68;";
const char* const kHeaderL = "Несовпадение количества переданных байт (L) в байтах №1 и №2;";
const char* const kHeaderByte3 = "Байт №3 не равен 0x68;";
// Answers the frame buffer cannot hold, or too short for what the command reads.
const char* const kTooLong = "Длина кадра (L) больше допустимой;";
const char* const kTooShort = "Недостаточно байт данных в ответе;";

std::string CodeText(uint32_t code)
{
    char b[16];
    std::snprintf(b, sizeof b, "%lu", static_cast<unsigned long>(code));
    return b;
}

std::string Hex2(uint8_t v)
{
    char b[4];
    std::snprintf(b, sizeof b, "%02X", v);
    return b;
}

// The counters have one writer (the exchange under way) and any number of readers.
void Bump(Atom<uint32_t>& counter)
{
    counter.store(counter.load() + 1);
}

}  // namespace

std::string LinkCountersText(const TCbData& cb)
{
    return "Кадров: " + std::to_string(cb.FramesSent.load()) + ", ответов: " +
           std::to_string(cb.AnswersReceived.load()) + ", ошибок КС: " + std::to_string(cb.ChecksumErrors.load()) +
           ", тайм-аутов: " + std::to_string(cb.Timeouts.load()) + ", сбоев подряд: " +
           std::to_string(cb.FailCount.load()) + ", связь: " + (cb.LinkLost.load() ? "потеряна" : "есть");
}

TLink::TLink(TGlobalState& state, TComPort& port, ISleeper& sleeper, IUiHooks& hooks)
    : state_(state), port_(port), sleeper_(sleeper), hooks_(hooks)
{
}

void TLink::SetCapture(TPcapCapture* capture)
{
    capture_.store(capture);
}

bool TLink::Logging() const
{
    return state_.ConsoleOpen.load() != 0;
}

void TLink::Log(const std::string& utf8)
{
    if (Logging())
        hooks_.LogLine(utf8);
}

void TLink::Log(const char* utf8)
{
    if (Logging())
        hooks_.LogLine(utf8);
}

uint8_t TLink::CheckSum(std::span<const uint8_t> bytes)
{
    uint32_t s = 0;
    for (uint8_t b : bytes)
        s += b;
    return static_cast<uint8_t>(s & 0xFF);
}

std::vector<uint8_t> TLink::ShortFrame(uint8_t c, uint8_t a)
{
    const uint8_t ca[2] = {c, a};
    return {0x10, c, a, CheckSum(ca), 0x16};
}

std::vector<uint8_t> TLink::LongFrame(uint8_t c, uint8_t a, uint8_t ci, std::span<const uint8_t> data)
{
    const auto l = static_cast<uint8_t>(3 + data.size());
    std::vector<uint8_t> f;
    f.reserve(data.size() + 9);
    for (uint8_t b : {uint8_t{0x68}, l, l, uint8_t{0x68}, c, a, ci})
        f.push_back(b);
    for (uint8_t b : data)
        f.push_back(b);
    f.push_back(CheckSum(std::span<const uint8_t>(f).subspan(4)));
    f.push_back(0x16);
    return f;
}

uint32_t TLink::PostWriteWaitMs(int32_t speed, uint32_t basis, bool pollWait)
{
    // f x 8 for every speed the table knows (f is 128 at 110 bit/s, halving up to 0.125).
    struct Row { int32_t speed; uint32_t f8; };
    static constexpr Row kTable[] = {
        {110, 1024}, {300, 512}, {600, 256}, {1200, 128}, {2400, 64}, {4800, 32},
        {9600, 16}, {19200, 8}, {38400, 4}, {57600, 2}, {115200, 1},
    };
    for (const Row& r : kTable) {
        if (r.speed != speed)
            continue;
        const uint32_t m = (pollWait && speed >= 19200) ? 8 : 4;
        const uint32_t w = basis * m * r.f8 / 8;
        return w < 3 ? 3 : w;
    }
    return 0;
}

std::string TLink::HexBytes(std::span<const uint8_t> bytes)
{
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(bytes.size() * 4);
    for (uint8_t b : bytes) {
        s += kDigits[b >> 4];
        s += kDigits[b & 0x0F];
        s += "; ";
    }
    return s;
}

int TLink::OpenPortForCb(int32_t cb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec) {
        Log("Обращение к несуществующему центральному блоку");
        return -8;
    }
    try {
        auto check = [&](const char* text, int result) {
            rec->LastPortError = port_.GetLastError();
            if (port_.GetLastError() == 0)
                return 0;
            rec->CountFailure();
            Log(text);
            port_.Close();
            return result;
        };
        // Judge this block's port alone: a failed open of another block's
        // missing port (or a read error of the last visit) must not be taken
        // for this one's.
        port_.ClearLastError();
        port_.SetPortNumber(rec->PortNumber.load());
        if (port_.IsOpen() && port_.GetLastError() != 0) {
            // The device opened, but refused the settings the port object
            // still held from the last block (or its defaults: even parity,
            // which a pseudo-terminal refuses). That says nothing about this
            // block's own: closed again, the port opens below with them all
            // at once, as after a change of port.
            port_.Close();
            port_.ClearLastError();
        }
        if (int r = check("Нет такого порта, или он занят другой программой.", -1))
            return r;
        port_.SetSpeed(static_cast<int32_t>(rec->Baud.load()));
        if (int r = check("Ошибка установки скорости обмена данными.", -2))
            return r;
        port_.SetDataBits(rec->DataBits.load());
        if (int r = check("Ошибка установки количества бит данных.", -3))
            return r;
        port_.SetParity(rec->Parity.load());
        if (int r = check("Ошибка установки бита четности.", -4))
            return r;
        port_.SetStopBits(rec->StopBits.load());
        if (int r = check("Ошибка установки количества бит старт-стоп.", -5))
            return r;
        port_.Open();
        return check("Ошибка открытия СОМ-порта.", -6);
    } catch (...) {
        port_.Close();
        rec->CountFailure();
        return -7;
    }
}

int TLink::ClosePortForCb(int32_t cb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    try {
        port_.SetPortNumber(rec->PortNumber.load());
        port_.Close();
        return 0;
    } catch (...) {
        port_.Close();
        return -1;
    }
}

size_t TLink::ReadInto(TCbData& rec, uint8_t* at, size_t n, bool& failed)
{
    const size_t room = static_cast<size_t>(buf_.data() + buf_.size() - at);
    if (n > room)
        n = room;
    const size_t got = port_.Read(at, n);
    rec.LastPortError = port_.GetLastError();
    failed = port_.GetLastError() != 0;
    if (got > 0) {
        if (rx_.empty())
            rxAt_ = std::chrono::system_clock::now();
        rx_.insert(rx_.end(), at, at + got);
    }
    return got;
}

int TLink::Exchange(int32_t cb, const TExchangePlan& plan, const ValidHandler& onValid)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    if (stopped_.load())
        return kExchangeStopped;
    auto fail = [&] {
        rec->CountFailure();
        if (plan.FailFlag)
            (rec->*plan.FailFlag) = 1;
    };
    short_ = false;
    rx_.clear();
    try {
        if (plan.Frame.empty() || plan.Frame.size() > buf_.size())
            throw std::length_error("request frame");
        std::copy(plan.Frame.begin(), plan.Frame.end(), buf_.begin());
        // After a failed open the port is closed and this write fails on the
        // missing handle; the operator needs the open's error (no such port,
        // busy, no permission), not the handle's.
        const bool closed = !port_.IsOpen();
        const uint32_t openError = rec->LastPortError.load();
        const auto writeAt = std::chrono::system_clock::now();
        port_.Write(buf_.data(), plan.Frame.size());
        const uint32_t werr = port_.GetLastError();
        rec->LastPortError = (closed && werr != 0 && openError != 0) ? openError : werr;
        if (werr == 0) {
            Bump(rec->FramesSent);
            if (TPcapCapture* cap = capture_.load())
                cap->Record(true, plan.Frame, writeAt);
        }
        if (Logging()) {
            Log(kSent);
            Log(HexBytes(plan.Frame));
        }
        if (werr != 0) {
            fail();
            Log("Ошибка записи в СОМ-порт; Код ошибки: " + CodeText(werr));
            return -3;
        }
        if (uint32_t w = PostWriteWaitMs(port_.GetSpeed(), plan.WaitBasis, plan.PollWait))
            sleeper_.SleepMs(w);
        if (plan.ExtraWaitMs)
            sleeper_.SleepMs(plan.ExtraWaitMs);
        const int r = Judge(*rec, plan, onValid);
        CaptureAnswer();
        CountOutcome(*rec, plan, r);
        if (r < 0)
            fail();
        return r;
    } catch (...) {
        CaptureAnswer();
        Log(plan.ExceptionText);
        fail();
        return -1;
    }
}

void TLink::CaptureAnswer()
{
    if (rx_.empty())
        return;
    if (TPcapCapture* cap = capture_.load())
        cap->Record(false, rx_, rxAt_);
    rx_.clear();
}

// Which counter an exchange that wrote its frame advances:
// - AnswersReceived: the exchange accepted what came (every result >= 0),
//   including "nothing to send" (0xE5) and a poll answer whose first byte the
//   poll passes over, since the link counted those a success as well;
// - Timeouts: nothing came (-6), or fewer bytes than the frame needs
//   (a header short of 4 bytes, a body short of L + 2, a link-status answer
//   short of 5) that were right as far as they went;
// - ChecksumErrors: any other refused answer, a bad frame counted with the
//   bad check sums: a wrong check sum or stop byte, a wrong first byte, a bad
//   header, L beyond the buffer, fewer data bytes than the command reads;
// - none: read errors of the port (-4) and exceptions (-1), which are not the
//   line's doing, and both no-reply profiles, whose answers are not judged.
void TLink::CountOutcome(TCbData& rec, const TExchangePlan& plan, int result)
{
    if (plan.Profile == TProfile::NoReply || plan.Profile == TProfile::NoReplyRead)
        return;
    if (result >= 0)
        Bump(rec.AnswersReceived);
    else if (result == -6 || (result == -5 && short_))
        Bump(rec.Timeouts);
    else if (result == -5 || result == -2)
        Bump(rec.ChecksumErrors);
}

int TLink::Accept(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid, const TAnswer& a, int dflt)
{
    rec.CountSuccess();
    if (plan.FailFlag)
        (rec.*plan.FailFlag) = 0;
    if (onValid)
        return onValid(a);
    return dflt;
}

int TLink::Judge(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid)
{
    switch (plan.Profile) {
    case TProfile::Acknowledge:
    case TProfile::WriteAcknowledge:
        return JudgeAcknowledge(rec, plan, onValid);
    case TProfile::Data:
    case TProfile::DataOrNothing:
        return JudgeData(rec, plan, onValid);
    case TProfile::LinkStatus:
        return JudgeLinkStatus(rec, plan, onValid);
    case TProfile::NoReplyRead: {
        bool failed = false;
        const size_t got = ReadInto(rec, buf_.data(), 4, failed);
        if (got == 0) {
            Log(kNoAnswer);
        } else if (Logging()) {
            Log(kReceived);
            Log(HexBytes({buf_.data(), got}));
        }
        if (failed) {
            Log("Ошибка получения данных; Код ошибки: " + CodeText(port_.GetLastError()));
            return -4;
        }
        return Accept(rec, plan, onValid, {}, 0);
    }
    case TProfile::NoReply:
        return Accept(rec, plan, onValid, {}, 0);
    }
    return -1;
}

// The first read of an answer: nothing (-6), a read error (-4) or bytes,
// logged as they came.
int TLink::ReadFirst(TCbData& rec, size_t n, size_t& got)
{
    bool failed = false;
    got = ReadInto(rec, buf_.data(), n, failed);
    if (got == 0) {
        Log(kNoAnswer);
        return -6;
    }
    // The log lines are built only for an open console: every answer passes here.
    if (Logging()) {
        Log(kReceived);
        Log(HexBytes({buf_.data(), got}));
    }
    if (failed) {
        Log("Ошибка получения данных; Код ошибки: " + CodeText(port_.GetLastError()));
        return -4;
    }
    return 0;
}

int TLink::JudgeAcknowledge(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid)
{
    size_t got = 0;
    if (const int r = ReadFirst(rec, plan.ReadLength, got); r < 0)
        return r;
    if (buf_[0] == 0xE5)
        return Accept(rec, plan, onValid, {}, 0);
    Log(plan.BadText);
    return -5;
}

int TLink::JudgeLinkStatus(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid)
{
    size_t got = 0;
    if (const int r = ReadFirst(rec, 7, got); r < 0)
        return r;
    if (got < 5 || buf_[0] != 0x10) {
        short_ = buf_[0] == 0x10;
        return -5;
    }
    // From the second byte to the third-last.
    const uint8_t sum = CheckSum({buf_.data() + 1, got - 3});
    if (Logging())
        Log("Контрольная сумма: " + Hex2(sum) + ";");
    if (sum != buf_[3] || buf_[4] != 0x16) {
        Log(plan.BadText);
        return -5;
    }
    TAnswer a;
    a.C = buf_[1];
    return Accept(rec, plan, onValid, a, 0);
}

int TLink::JudgeData(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid)
{
    const bool orNothing = plan.Profile == TProfile::DataOrNothing;
    const bool poll = orNothing && plan.Kind == TDataOrNothingKind::Poll;
    size_t got = 0;
    if (const int r = ReadFirst(rec, 4, got); r < 0)
        return r;
    if (orNothing) {
        if (buf_[0] == 0xE5) {
            rec.CountSuccess();
            if (poll)
                Log("Новых данных нет");
            return 0;
        }
        if (buf_[0] != 0x68) {
            if (poll) {
                rec.CountSuccess();
                return 0;
            }
            return -2;
        }
        if (poll) {
            sleeper_.SleepMs(10);
            Log("Новые данные есть.");
        } else {
            Log("Получение записи журнала.");
        }
    }
    // A header read short of 4 bytes fails the check: the missing bytes are
    // not taken from whatever the buffer held before.
    auto at = [&](size_t i) { return i < got ? static_cast<int>(buf_[i]) : -1; };
    const bool ok0 = at(0) == 0x68;
    const bool okL = at(1) >= 0 && at(1) == at(2);
    const bool ok3 = at(3) == 0x68;
    if (!ok0 || !okL || !ok3) {
        // Right as far as it went, only cut short.
        short_ = got < 4 && ok0 && (got < 3 || okL);
        if (!ok0 && !orNothing)
            Log(kHeaderByte0);
        if (!okL)
            Log(kHeaderL);
        if (!ok3)
            Log(kHeaderByte3);
        return -5;
    }
    const uint8_t l = buf_[1];
    if (l > kMaxReceivedL) {
        Log(kTooLong);
        return -5;
    }
    return ReadBody(rec, plan, onValid, l);
}

int TLink::ReadBody(TCbData& rec, const TExchangePlan& plan, const ValidHandler& onValid, uint8_t l)
{
    const bool orNothing = plan.Profile == TProfile::DataOrNothing;
    bool failed = false;
    const size_t got = ReadInto(rec, buf_.data(), static_cast<size_t>(l) + 2, failed);
    if (got == 0) {
        if (orNothing)
            Log(kNoAnswer);
        return -6;
    }
    if (Logging())
        Log(HexBytes({buf_.data(), got}));
    if (failed) {
        Log("Ошибка получения данных; Код ошибки: " + CodeText(port_.GetLastError()));
        return -4;
    }
    short_ = got < static_cast<size_t>(l) + 2;
    if (got < 2) {
        // No room for a check sum and a stop byte.
        Log(plan.BadText);
        return -5;
    }
    const uint8_t sum = CheckSum({buf_.data(), got - 2});
    if (Logging())
        Log("Контрольная сумма: " + Hex2(sum) + ";");
    if (sum != buf_[got - 2]) {
        Log(plan.BadText);
        return -5;
    }
    TAnswer a;
    const size_t summed = got - 2;
    a.C = summed >= 1 ? buf_[0] : 0;
    if (summed > 3)
        a.Data = std::span<const uint8_t>(buf_.data() + 3, summed - 3);
    if (a.Data.size() < plan.MinData) {
        Log(kTooShort);
        return -5;
    }
    return Accept(rec, plan, onValid, a, 1);
}

}  // namespace kestrel
