// The central-block commands and composite sequences.
#include "protocol/Protocol.h"

#include <cstdio>

namespace kestrel {

namespace {

const char* const kAckBad = "Первый принятый байт не равен 0xE5.";
const char* const kSumBad = "Ошибка контрольной суммы";
const char* const kSumBadDot = "Ошибка контрольной суммы.";
const char* const kExc = "Ошибка выполнения команды.";
const char* const kExcNoDot = "Ошибка выполнения команды";

std::string Hex2(unsigned v)
{
    char b[8];
    std::snprintf(b, sizeof b, "%02X", v & 0xFFu);
    return b;
}

uint8_t ReadC(bool fcb) { return fcb ? 0x7B : 0x5B; }
uint8_t SendC(bool fcb) { return fcb ? 0x73 : 0x53; }

TExchangePlan Plan(std::vector<uint8_t> frame, uint32_t basis, TProfile profile, size_t readLen, const char* bad)
{
    TExchangePlan s;
    s.Frame = std::move(frame);
    s.WaitBasis = basis;
    s.Profile = profile;
    s.ReadLength = readLen;
    s.BadText = bad;
    return s;
}

const char* Allowed(uint8_t v) { return v ? "Разрешен; " : "Запрещен; "; }

}  // namespace

TCbProtocol::TCbProtocol(TGlobalState& state, TComPort& port, ISleeper& sleeper, IUiHooks& hooks)
    : state_(state), link_(state, port, sleeper, hooks)
{
}

int TCbProtocol::OpenPortForCb(int32_t cb) { return link_.OpenPortForCb(cb); }
int TCbProtocol::ClosePortForCb(int32_t cb) { return link_.ClosePortForCb(cb); }

// ---------------------------------------------------------------- link control

int TCbProtocol::ReqResetLink(int32_t cb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    return link_.Exchange(cb, Plan(TLink::ShortFrame(0x40, rec->Address), 5, TProfile::Acknowledge, 5, kAckBad));
}

int TCbProtocol::ReqResetFcb(int32_t cb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    auto s = Plan(TLink::ShortFrame(0x47, rec->Address), 5, TProfile::Acknowledge, 5, "Нулевой байт не равен 0xE5;");
    s.ExceptionText = kExcNoDot;
    return link_.Exchange(cb, s);
}

int TCbProtocol::ReqLinkStatus(int32_t cb, bool fcb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    return link_.Exchange(cb, Plan(TLink::ShortFrame(fcb ? 0x69 : 0x49, rec->Address), 5, TProfile::LinkStatus, 7,
                                   kSumBadDot));
}

// ---------------------------------------------------------------- events

bool TCbProtocol::ApplyEffect(TCbData& rec, const TEventData& e)
{
    const bool uirKnown = e.UirAddress >= 1 && e.UirAddress <= kUirCount;
    switch (e.Code) {
    case 0xA1:
    case 0xA2:
    case 0xA3:
        if (!uirKnown)
            return false;
        rec.Uir[e.UirAddress - 1].ChArc(e.Code - 0xA0) = 1;
        return true;
    case 0xB1:
    case 0xB2:
    case 0xB3:
        rec.MtzActive[e.Code - 0xB1] = 1;
        return true;
    case 0xD2:
        for (int i = 0; i < kUirCount; ++i) {
            TUirData& u = rec.Uir[i];
            for (int input = 1; input <= 3; ++input) {
                u.ChArc(input) = 0;
                u.ChFault(input) = 0;
            }
            rec.UirLinkLost[i] = 0;
        }
        for (auto& m : rec.MtzActive)
            m = 0;
        return false;
    case 0xE0:
        if (!uirKnown)
            return false;
        rec.UirLinkLost[e.UirAddress - 1] = 1;
        return true;
    case 0xE1:
    case 0xE2:
    case 0xE3:
        if (!uirKnown)
            return false;
        rec.Uir[e.UirAddress - 1].ChFault(e.Code - 0xE0) = 1;
        return true;
    default:
        return false;
    }
}

void TCbProtocol::LogEvent(const TEventData& e)
{
    if (!link_.Logging())
        return;
    for (const std::string& line : EventLogLines(e))
        link_.Log(line);
}

int TCbProtocol::ReqPollEvent(int32_t cb, bool fcb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    auto s = Plan(TLink::ShortFrame(ReadC(fcb), rec->Address), 5, TProfile::DataOrNothing, 4, kSumBad);
    s.PollWait = true;
    s.Kind = TDataOrNothingKind::Poll;
    s.MinData = 12;
    return link_.Exchange(cb, s, [&](const TAnswer& a) {
        TEventData e;
        DecodeEventData(a.Data.data(), a.Data.size(), e);
        LogEvent(e);
        // Newest first: the status walk of the main window reads the list from
        // the front and stops at the newest reset.
        rec->Events.InsertAt(e, 0);
        if (inCycle_)
            cycleEvents_.push_back(e);
        if (ApplyEffect(*rec, e))
            link_.Hooks().RestoreMainWindow();
        if (a.C == 0x28)
            return 2;
        if (a.C == 0x08)
            return 1;
        return 0;
    });
}

int TCbProtocol::ReqEventCycle(int32_t cb)
{
    return ReqEventCycle(cb, {});
}

int TCbProtocol::ReqEventCycle(int32_t cb, const std::function<bool()>& stopRequested)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    ISleeper& sleeper = link_.Sleeper();
    struct CycleGuard {
        bool& flag;
        ~CycleGuard() { flag = false; }
    };
    auto stop = [&] { return stopRequested && stopRequested(); };
    // Up to `tries` exchanges, `pauseMs` apart, until one succeeds; false
    // when a stop request came first (no exchange is started after it).
    auto tryUpTo = [&](int tries, uint32_t pauseMs, const std::function<int()>& call, int& r) {
        for (int t = 0; t < tries; ++t) {
            if (stop())
                return false;
            if (t > 0) {
                sleeper.SleepMs(pauseMs);
                if (stop())
                    return false;
            }
            r = call();
            if (r >= 0)
                break;
        }
        return true;
    };
    // A cycle that ends before its polls (stopped, or the frame-count reset
    // failed: -3) received nothing: the last cycle's events are not its own.
    cycleEvents_.clear();
    try {
        state_.Fcb = 1;
        int r = -1;
        if (!tryUpTo(10, 50, [&] { return ReqResetFcb(cb); }, r))
            return 0;
        if (r < 0)
            return -3;
        state_.Fcb = 1;
        rec->NewEventCount = 0;
        sleeper.SleepMs(10);
        inCycle_ = true;
        CycleGuard guard{inCycle_};
        int result = 0;
        for (int received = 0; received < kMaxEventsPerCycle;) {
            const bool fcb = state_.Fcb.load() != 0;
            int poll = -1;
            if (!tryUpTo(100, 10, [&] { return ReqPollEvent(cb, fcb); }, poll))
                break;  // the next cycle starts with a frame-count reset anyway
            result = poll;
            state_.Fcb = fcb ? 0 : 1;
            if (poll <= 0)
                break;
            ++received;
            // The journal window may set the count back to 0 at any time.
            int32_t n = rec->NewEventCount.load();
            while (!rec->NewEventCount.compareExchange(n, n + 1)) {
            }
        }
        inCycle_ = false;
        if (link_.Logging() && !cycleEvents_.empty())
            link_.Hooks().ConsoleShowJournal();
        // Decide on the events this cycle received, not on list positions the
        // journal window may have moved.
        for (const TEventData& e : cycleEvents_) {
            if (e.Code == 0xD4) {
                rec->FuncTablesChanged = 1;
                rec->UirCfgChanged = 1;
            }
        }
        return result;
    } catch (...) {
        return -1;
    }
}

// ---------------------------------------------------------------- journal

int TCbProtocol::ReadJournalRecordImpl(int32_t cb, bool fcb, bool second)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    auto s = Plan(TLink::LongFrame(ReadC(fcb), rec->Address, 0xF0), 25, TProfile::DataOrNothing, 4, kSumBad);
    s.Kind = TDataOrNothingKind::Journal;
    s.MinData = 12;
    return link_.Exchange(cb, s, [&](const TAnswer& a) {
        TEventData e;
        DecodeEventData(a.Data.data(), a.Data.size(), e);
        LogEvent(e);
        if (link_.Logging())
            link_.Hooks().ConsoleJournalRecord(EventCodeText(e.Code), EventConsoleText(e), EventConsoleDate(e));
        rec->Events.Append(e);
        if (ApplyEffect(*rec, e))
            link_.Hooks().RestoreMainWindow();
        return (second && e.Code == 0xD2) ? 0 : 1;
    });
}

int TCbProtocol::ReqReadJournalRecord(int32_t cb, bool fcb) { return ReadJournalRecordImpl(cb, fcb, false); }
int TCbProtocol::ReqReadJournalRecord2(int32_t cb, bool fcb) { return ReadJournalRecordImpl(cb, fcb, true); }

int TCbProtocol::ReqClearJournal(int32_t cb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    auto s = Plan(TLink::LongFrame(0x44, rec->Address, 0x44), 25, TProfile::NoReplyRead, 4, "");
    s.FailFlag = &TCbData::ClearJournalError;
    return link_.Exchange(cb, s);
}

int TCbProtocol::FetchJournalImpl(int32_t cb, bool second)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    ISleeper& sleeper = link_.Sleeper();
    try {
        int r = -1;
        for (int t = 0; t < 10 && r < 0; ++t)
            r = ReqResetLink(cb);
        if (r < 0) {
            rec->JournalError = 1;
            return -2;
        }
        bool fcb = true;
        int count = 0;
        do {
            for (int t = 0; t < 10; ++t) {
                sleeper.SleepMs(5);
                r = second ? ReqReadJournalRecord2(cb, fcb) : ReqReadJournalRecord(cb, fcb);
                if (second ? r >= 0 : (r > 0 || (r == 0 && count > 0)))
                    break;
            }
            if (r < 0) {
                rec->JournalError = 1;
                return -3;
            }
            fcb = !fcb;
            if (r > 0)
                ++count;
            sleeper.SleepMs(10);
        } while (r > 0 && count < 255);
        rec->JournalError = 0;
        return 0;
    } catch (...) {
        rec->JournalError = 1;
        return -1;
    }
}

int TCbProtocol::ReqFetchJournal(int32_t cb) { return FetchJournalImpl(cb, false); }
int TCbProtocol::ReqFetchJournal2(int32_t cb) { return FetchJournalImpl(cb, true); }

// ---------------------------------------------------------------- function tables

int TCbProtocol::ReqReadFuncTable(int32_t cb, int mode, bool fcb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    return ReadFuncTableInto(cb, mode, fcb, *rec);
}

int TCbProtocol::ReadFuncTableInto(int32_t cb, int mode, bool fcb, TCbData& into)
{
    TCbData* link = state_.Cb(cb);
    if (!link || mode < 0 || mode > 3)
        return -2;
    TCbData* rec = &into;
    auto s = Plan(TLink::LongFrame(ReadC(fcb), link->Address, static_cast<uint8_t>(0x2C + 4 * mode)), 25,
                  TProfile::Data, 4, kSumBad);
    s.MinData = mode == 3 ? 7 : 4;
    s.ExceptionText = mode == 0 ? kExc : kExcNoDot;
    return link_.Exchange(cb, s, [&](const TAnswer& a) {
        for (int k = 0; k < 4; ++k)
            rec->FuncTable[k][mode] = static_cast<uint8_t>(~a.Data[k]);
        if (mode == 3) {
            rec->UrovTimeMs = static_cast<uint16_t>(a.Data[4] * 50);
            rec->OutputsState = a.Data[5];
            rec->MtzWait = a.Data[6] & 1;
        }
        if (link_.Logging()) {
            static const char* const kHeadings[4] = {
                "Значение функций в режиме без МТЗ или МТЗ-v: ", "Значение функций в режиме МТЗ-1: ",
                "Значение функций в режиме МТЗ-2: ", "Значение функций в режиме МТЗ-3: "};
            link_.Log(kHeadings[mode]);
            std::string line;
            for (int k = 0; k < 4; ++k) {
                line += 'F';
                line += static_cast<char>('0' + k);
                line += '_';
                line += static_cast<char>('1' + mode);
                line += " = ";
                line += Hex2(rec->FuncTable[k][mode].load());
                line += (mode == 3 && k == 3) ? ";" : "; ";
            }
            link_.Log(line);
            if (mode == 3) {
                link_.Log("Время УРОВ:  " + std::to_string(rec->UrovTimeMs.load()));
                link_.Log("Текущее состояние выходов ЦБ:  " + Hex2(rec->OutputsState.load()));
                link_.Log(rec->MtzWait.load() ? "МТЗ:  ждать" : "МТЗ:  не ждать");
            }
        }
        return 0;
    });
}

int TCbProtocol::ReqReadFuncTableNoMtz(int32_t cb, bool fcb) { return ReqReadFuncTable(cb, 0, fcb); }
int TCbProtocol::ReqReadFuncTableMtz1(int32_t cb, bool fcb) { return ReqReadFuncTable(cb, 1, fcb); }
int TCbProtocol::ReqReadFuncTableMtz2(int32_t cb, bool fcb) { return ReqReadFuncTable(cb, 2, fcb); }
int TCbProtocol::ReqReadFuncTableMtz3(int32_t cb, bool fcb) { return ReqReadFuncTable(cb, 3, fcb); }

int TCbProtocol::ReqWriteFuncTable(int32_t cb, int mode)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec || mode < 0 || mode > 3)
        return -2;
    // On the stack: the write-all repeats this up to 100 times a table.
    uint8_t data[6];
    for (int k = 0; k < 4; ++k)
        data[k] = static_cast<uint8_t>(~state_.CmdData[k].load());
    data[4] = state_.CmdData[4];
    data[5] = state_.CmdData[5];
    const std::span<const uint8_t> sent(data, mode == 3 ? 6 : 4);
    const uint8_t c = SendC(state_.Fcb.load() != 0);
    return link_.Exchange(cb, Plan(TLink::LongFrame(c, rec->Address, static_cast<uint8_t>(0x2C + 4 * mode), sent), 25,
                                   TProfile::WriteAcknowledge, 7, kSumBadDot));
}

int TCbProtocol::ReqWriteFuncTableNoMtz(int32_t cb) { return ReqWriteFuncTable(cb, 0); }
int TCbProtocol::ReqWriteFuncTableMtz1(int32_t cb) { return ReqWriteFuncTable(cb, 1); }
int TCbProtocol::ReqWriteFuncTableMtz2(int32_t cb) { return ReqWriteFuncTable(cb, 2); }
int TCbProtocol::ReqWriteFuncTableMtz3(int32_t cb) { return ReqWriteFuncTable(cb, 3); }

// Call up to `tries` times, pausing between a negative result and the next
// call; the first result of 0 or more ends the tries.
int TCbProtocol::TryUpTo(int tries, uint32_t pauseMs, const std::function<int()>& call)
{
    int r = -1;
    for (int t = 0; t < tries; ++t) {
        if (t > 0)
            link_.Sleeper().SleepMs(pauseMs);
        r = call();
        // A stopped link sends nothing more: no use trying again.
        if (r >= 0 || link_.Stopped())
            break;
    }
    return r;
}

int TCbProtocol::ReqReadAllFuncTables(int32_t cb, bool fcb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    try {
        for (int m = 0; m < 4; ++m) {
            const int r = TryUpTo(10, 10, [&] { return ReqReadFuncTable(cb, m, fcb); });
            if (r < 0) {
                rec->FuncReadError = 1;
                return -2;
            }
        }
        rec->FuncReadError = 0;
        return 0;
    } catch (...) {
        rec->FuncReadError = 1;
        return -1;
    }
}

int TCbProtocol::ReqWriteAllFuncTables(int32_t cb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    try {
        for (int m = 0; m < 4; ++m) {
            for (int k = 0; k < 4; ++k)
                state_.CmdData[k] = rec->FuncTable[k][m].load();
            if (m == 3) {
                state_.CmdData[4] = static_cast<uint8_t>(rec->UrovTimeMs.load() / 50);
                state_.CmdData[5] = rec->MtzWait.load() ? 1 : 0;
            }
            bool ok = false;
            for (int t = 0; t < 100; ++t) {
                if (ReqWriteFuncTable(cb, m) == 0) {
                    ok = true;
                    break;
                }
                if (link_.Stopped())
                    break;
                link_.Sleeper().SleepMs(10);
            }
            if (!ok) {
                rec->FuncWriteError = 1;
                return -(2 + m);
            }
            if (m < 3)
                link_.Sleeper().SleepMs(10);
        }
        rec->FuncWriteError = 0;
        return 0;
    } catch (...) {
        rec->FuncWriteError = 1;
        return -1;
    }
}

// ---------------------------------------------------------------- UIR configuration

void TCbProtocol::PackUirSegment(int32_t cb, int segment)
{
    if (const TCbData* rec = state_.Cb(cb))
        PackUirSegmentFrom(*rec, segment);
}

void TCbProtocol::PackUirSegmentFrom(const TCbData& from, int segment)
{
    const TCbData* rec = &from;
    // Slot 0 and the slots past UIR 43 carry no UIR: they go as 0.
    for (int i = 1; i <= 8; ++i)
        state_.CmdData[i] = 0;
    if (segment < 0 || segment > 10)
        return;
    for (int j = 0; j < 4; ++j) {
        const int n = 4 * segment + j;
        if (n == 0)
            continue;
        const TUirData& u = rec->Uir[n - 1];
        int a = u.InputFunction1.load() + 4 * u.InputFunction2.load() + 16 * u.InputFunction3.load();
        if (u.PollEnabled.load())
            a += 0x40;
        if (u.OutputEnabled.load())
            a += 0x80;
        int b = (u.InputControl1.load() ? 1 : 0) + (u.InputControl2.load() ? 2 : 0) + (u.InputControl3.load() ? 4 : 0);
        state_.CmdData[1 + 2 * j] = static_cast<uint8_t>(a);
        state_.CmdData[2 + 2 * j] = static_cast<uint8_t>(b);
    }
}

int TCbProtocol::ReqReadUirSegment(int32_t cb, int segment, bool fcb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    return ReadUirSegmentInto(cb, segment, fcb, *rec);
}

int TCbProtocol::ReadUirSegmentInto(int32_t cb, int segment, bool fcb, TCbData& into)
{
    const TCbData* link = state_.Cb(cb);
    if (!link)
        return -2;
    TCbData* rec = &into;
    const uint8_t first = static_cast<uint8_t>(4 * segment);
    auto s = Plan(TLink::LongFrame(ReadC(fcb), link->Address, 0x40, std::span<const uint8_t>(&first, 1)), 25,
                  TProfile::Data, 4, kSumBadDot);
    s.MinData = 9;
    return link_.Exchange(cb, s, [&](const TAnswer& a) {
        const uint8_t d0 = a.Data[0];
        if (d0 > 43)
            return 0;
        const int seg = d0 / 4;
        for (int j = 0; j < 4; ++j) {
            const int n = 4 * seg + j;
            if (n == 0)
                continue;
            const uint8_t A = a.Data[1 + 2 * j];
            const uint8_t B = a.Data[2 + 2 * j];
            TUirData& u = rec->Uir[n - 1];
            u.InputFunction1 = A & 3;
            u.InputFunction2 = (A >> 2) & 3;
            u.InputFunction3 = (A >> 4) & 3;
            u.PollEnabled = (A >> 6) & 1;
            u.OutputEnabled = (A >> 7) & 1;
            u.InputControl1 = B & 1;
            u.InputControl2 = (B >> 1) & 1;
            u.InputControl3 = (B >> 2) & 1;
        }
        if (link_.Logging()) {
            link_.Log("");
            for (int j = 0; j < 4; ++j) {
                const int n = 4 * seg + j;
                if (n == 0)
                    continue;
                const TUirData& u = rec->Uir[n - 1];
                link_.Log("УИР №" + std::to_string(n));
                std::string line = "Номер функции для входа 1: " + std::to_string(u.InputFunction1.load()) +
                                   "; \tНомер функции для входа 2: " + std::to_string(u.InputFunction2.load()) +
                                   "; \tНомер функции для входа 3: " + std::to_string(u.InputFunction3.load()) +
                                   "; \tОпрос этого УИР " + Allowed(u.PollEnabled) + "\tВыход этого УИР: " +
                                   Allowed(u.OutputEnabled) + "\tКонтроль входа №1: " + Allowed(u.InputControl1) +
                                   "\tКонтроль входа №2: " + Allowed(u.InputControl2) + "\tКонтроль входа №3: " +
                                   Allowed(u.InputControl3);
                link_.Log(line);
            }
        }
        return 0;
    });
}

int TCbProtocol::ReqWriteUirSegment(int32_t cb, int segment, bool fcb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    return WriteUirSegmentFrom(cb, segment, fcb, *rec);
}

int TCbProtocol::WriteUirSegmentFrom(int32_t cb, int segment, bool fcb, const TCbData& from)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    PackUirSegmentFrom(from, segment);
    uint8_t data[9] = {static_cast<uint8_t>(4 * segment)};
    for (int i = 1; i <= 8; ++i)
        data[i] = state_.CmdData[i];
    auto s = Plan(TLink::LongFrame(SendC(fcb), rec->Address, 0x40, data), 25, TProfile::WriteAcknowledge, 7,
                  kSumBadDot);
    s.FailFlag = &TCbData::UirWriteError;
    return link_.Exchange(cb, s);
}

int TCbProtocol::ReqReadUirConfig(int32_t cb, bool fcb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    try {
        for (int seg = 0; seg <= 10; ++seg) {
            const int r = TryUpTo(10, 10, [&] { return ReqReadUirSegment(cb, seg, fcb); });
            if (r < 0) {
                rec->UirReadError = 1;
                return -(seg + 2);
            }
        }
        rec->UirReadError = 0;
        return 0;
    } catch (...) {
        rec->UirReadError = 1;
        return -1;
    }
}

int TCbProtocol::ReqWriteUirConfig(int32_t cb, bool fcb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    try {
        for (int seg = 0; seg <= 10; ++seg) {
            const int r = TryUpTo(10, 10, [&] { return ReqWriteUirSegment(cb, seg, fcb); });
            if (r < 0) {
                rec->UirWriteError = 1;
                return -(seg + 2);
            }
        }
        rec->UirWriteError = 0;
        return 0;
    } catch (...) {
        rec->UirWriteError = 1;
        return -1;
    }
}

// ---------------------------------------------------------------- clock, address, speed, reset

int TCbProtocol::ReqReadClock(int32_t cb, bool fcb)
{
    TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    auto s = Plan(TLink::LongFrame(ReadC(fcb), rec->Address, 0x3C), 25, TProfile::Data, 4, kSumBadDot);
    s.MinData = 6;
    s.FailFlag = &TCbData::ClockReadError;
    return link_.Exchange(cb, s, [&](const TAnswer& a) {
        rec->ClockSecond = static_cast<uint8_t>(FromBcd(a.Data[0]));
        rec->ClockMinute = static_cast<uint8_t>(FromBcd(a.Data[1]));
        rec->ClockHour = static_cast<uint8_t>(FromBcd(a.Data[2]));
        rec->ClockDay = static_cast<uint8_t>(FromBcd(a.Data[3]));
        rec->ClockMonth = static_cast<uint8_t>(FromBcd(a.Data[4]));
        rec->ClockYear = static_cast<uint32_t>(FromBcd(a.Data[5]));
        if (link_.Logging()) {
            const auto d = [](unsigned v) { return std::to_string(v); };
            link_.Log("Время/дата центрального блока: " + d(rec->ClockHour) + ":" + d(rec->ClockMinute) + ":" +
                      d(rec->ClockSecond) + "  " + d(rec->ClockDay) + "/" + d(rec->ClockMonth) + "/" +
                      d(rec->ClockYear));
            link_.Hooks().ConsoleShowClock(static_cast<int>(rec->ClockYear.load() + 2000), MonthName(rec->ClockMonth),
                                           rec->ClockDay, rec->ClockHour, rec->ClockMinute, rec->ClockSecond);
        }
        return 0;
    });
}

int TCbProtocol::ReqWriteClock(int32_t cb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    uint8_t data[6];
    for (int i = 0; i < 6; ++i)
        data[i] = state_.CmdData[i];
    auto s = Plan(TLink::LongFrame(SendC(state_.Fcb.load() != 0), rec->Address, 0x3C, data), 25,
                  TProfile::WriteAcknowledge, 7, kSumBadDot);
    s.FailFlag = &TCbData::ClockWriteError;
    return link_.Exchange(cb, s);
}

int TCbProtocol::ReqStopClock(int32_t cb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    auto s = Plan(TLink::LongFrame(0x44, rec->Address, 0x54), 9, TProfile::NoReply, 0, "");
    s.ExtraWaitMs = 20;
    return link_.Exchange(cb, s);
}

int TCbProtocol::ReqSetAddress(int32_t cb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    const uint8_t v = state_.CmdData[0];
    auto s = Plan(TLink::LongFrame(SendC(state_.Fcb.load() != 0), rec->Address, 0x4C, std::span<const uint8_t>(&v, 1)),
                  10, TProfile::Acknowledge, 5, kAckBad);
    s.FailFlag = &TCbData::AddressError;
    return link_.Exchange(cb, s);
}

int TCbProtocol::ReqSetSpeed(int32_t cb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    const uint8_t v = state_.CmdData[0];
    auto s = Plan(TLink::LongFrame(SendC(state_.Fcb.load() != 0), rec->Address, 0x50, std::span<const uint8_t>(&v, 1)),
                  10, TProfile::Acknowledge, 5, kAckBad);
    s.FailFlag = &TCbData::SpeedError;
    return link_.Exchange(cb, s);
}

int TCbProtocol::ReqResetCb(int32_t cb)
{
    const TCbData* rec = state_.Cb(cb);
    if (!rec)
        return -2;
    auto s = Plan(TLink::LongFrame(SendC(state_.Fcb.load() != 0), rec->Address, 0x48), 9, TProfile::Acknowledge, 15,
                  kAckBad);
    s.FailFlag = &TCbData::ResetError;
    return link_.Exchange(cb, s);
}

// ---------------------------------------------------------------- dispatch

bool TCbProtocol::IsKnownCode(int32_t code)
{
    return (code >= 1 && code <= 23) || (code >= 101 && code <= 107);
}

int TCbProtocol::Dispatch(int32_t cb, int32_t code)
{
    const bool fcb = state_.Fcb.load() != 0;
    const int seg = state_.UirSegment.load();
    switch (code) {
    case kestrel::ReqResetLink: return ReqResetLink(cb);
    case kestrel::ReqReadJournalRecord: return ReqReadJournalRecord(cb, fcb);
    case kestrel::ReqReadFuncTableNoMtz: return ReqReadFuncTable(cb, 0, fcb);
    case kestrel::ReqReadFuncTableMtz1: return ReqReadFuncTable(cb, 1, fcb);
    case kestrel::ReqReadFuncTableMtz2: return ReqReadFuncTable(cb, 2, fcb);
    case kestrel::ReqReadFuncTableMtz3: return ReqReadFuncTable(cb, 3, fcb);
    case kestrel::ReqResetFcb: return ReqResetFcb(cb);
    case kestrel::ReqReadClock: return ReqReadClock(cb, fcb);
    case kestrel::ReqReadUirSegment: return ReqReadUirSegment(cb, seg, fcb);
    case kestrel::ReqClearJournal: return ReqClearJournal(cb);
    case kestrel::ReqWriteFuncTableNoMtz: return ReqWriteFuncTable(cb, 0);
    case kestrel::ReqWriteFuncTableMtz1: return ReqWriteFuncTable(cb, 1);
    case kestrel::ReqWriteFuncTableMtz2: return ReqWriteFuncTable(cb, 2);
    case kestrel::ReqWriteFuncTableMtz3: return ReqWriteFuncTable(cb, 3);
    case kestrel::ReqWriteClock: return ReqWriteClock(cb);
    case kestrel::ReqWriteUirSegment: return ReqWriteUirSegment(cb, seg, fcb);
    case kestrel::ReqResetCb: return ReqResetCb(cb);
    case kestrel::ReqSetAddress: return ReqSetAddress(cb);
    case kestrel::ReqSetSpeed: return ReqSetSpeed(cb);
    case kestrel::ReqLinkStatus: return ReqLinkStatus(cb, fcb);
    case kestrel::ReqPollEvent: return ReqPollEvent(cb, fcb);
    case kestrel::ReqStopClock: return ReqStopClock(cb);
    case kestrel::ReqReadJournalRecord2: return ReqReadJournalRecord2(cb, fcb);
    case kestrel::ReqFetchJournal: return ReqFetchJournal(cb);
    case kestrel::ReqReadAllFuncTables: return ReqReadAllFuncTables(cb, fcb);
    case kestrel::ReqWriteAllFuncTables: return ReqWriteAllFuncTables(cb);
    case kestrel::ReqReadUirConfig: return ReqReadUirConfig(cb, fcb);
    case kestrel::ReqWriteUirConfig: return ReqWriteUirConfig(cb, fcb);
    case kestrel::ReqEventCycle: return ReqEventCycle(cb, [this] { return link_.Stopped(); });
    case kestrel::ReqFetchJournal2: return ReqFetchJournal2(cb);
    default: return 0;
    }
}

}  // namespace kestrel
