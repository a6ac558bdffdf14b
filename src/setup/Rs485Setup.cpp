#include "setup/Rs485Setup.h"

#include <cstdio>

namespace kestrel {

const std::vector<std::string>& Rs485CommandTexts()
{
    static const std::vector<std::string> t = {
        "Сброс канала",
        "Получить запись журнала",
        "Получить настройки ЦБ ",
        "Сброс FCB",
        "Получить время/дату ЦБ",
        "Получть настройки УИР",
        "Очистить память",
        "Установить настройки ЦБ",
        "Установить время/дату на ЦБ",
        "Установить настройки УИР",
        "Сброс устройства",
        "Установить адрес ЦБ",
        "Установить скорость обмена ЦБ ",
        "Получить состояние канала",
        "Проверить наличие новых событий",
        "Получить все новые события",
        "Остановить часы",
    };
    return t;
}

const std::vector<std::string>& Rs485ModeTexts()
{
    static const std::vector<std::string> t = {
        "Ф-ции без подтв МТЗ и МТЗ-v",
        "Ф-ции в режиме МТЗ-1",
        "Ф-ции в режиме МТЗ-2",
        "Ф-ции в режиме МТЗ-3 и УРОВ",
    };
    return t;
}

const std::vector<std::string>& Rs485UrovTexts()
{
    static const std::vector<std::string> t = [] {
        std::vector<std::string> v;
        for (int ms = 50; ms <= 500; ms += 50)
            v.push_back(std::to_string(ms));
        return v;
    }();
    return t;
}

const std::vector<std::string>& Rs485MtzTexts()
{
    static const std::vector<std::string> t = {"Не ждать", "Ждать"};
    return t;
}

std::string Rs485SelectionError(const TRs485Selection& s, int32_t cbCount)
{
    if (s.Command < 0 || s.Command >= kRs485CommandCount)
        return "Неверно задан код команды";
    if (s.Cb < 0 || s.Cb >= cbCount)
        return "Неверно задан центральный блок (ЦБ)";
    if (s.Segment < 0 || s.Segment >= kRs485SegmentCount)
        return "Неверно задан номер сегмента в конфигурации УИР";
    return {};
}

namespace {

uint8_t Bcd(int v)
{
    return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}

}  // namespace

TRs485Command Rs485StageCommand(TGlobalState& state, const TRs485Selection& s)
{
    TRs485Command c;
    c.Data.Fcb = s.Fcb ? 1 : 0;
    c.Data.UirSegment = static_cast<int16_t>(s.Segment < 0 ? 0 : s.Segment);
    auto with = [&c](int32_t code, std::initializer_list<uint8_t> bytes) {
        const TRequestData d = TRequestData::Bytes(bytes);
        c.Data.CmdData = d.CmdData;
        c.Data.CmdDataCount = d.CmdDataCount;
        c.Code = code;
        return c;
    };
    const int mode = (s.Mode >= 0 && s.Mode < 4) ? s.Mode : 0;
    const int32_t writeTable = ReqWriteFuncTableNoMtz + mode;
    switch (s.Command) {
    case 0: return with(ReqResetLink, {});
    case 1: return with(ReqReadJournalRecord, {});
    case 2: return with(ReqReadFuncTableNoMtz + mode, {});
    case 3: return with(ReqResetFcb, {});
    case 4: return with(ReqReadClock, {});
    case 5: return with(ReqReadUirSegment, {});
    case 6: return with(ReqClearJournal, {});
    case 7:
        switch (mode) {
        case 0: return with(writeTable, {0xC7, 0xC7, 0xFF, 0xFF});
        case 1: return with(writeTable, {0xC6, 0xC6, 0xC6, 0xC1});
        case 2: return with(writeTable, {0xC1, 0xC1, 0xC6, 0xC1});
        default:
            return with(writeTable, {0xC7, 0xC7, 0xC6, 0xC1, static_cast<uint8_t>(s.Urov + 1),
                                     static_cast<uint8_t>(s.Mtz)});
        }
    case 8: return with(ReqWriteClock, {});
    case 9: return with(ReqWriteUirSegment, {});
    case 10: return with(ReqResetCb, {});
    case 11: return with(ReqSetAddress, {1});
    case 12: return with(ReqSetSpeed, {0});
    case 13: return with(ReqLinkStatus, {});
    case 14:
        if (TCbData* cur = state.Current())
            cur->NewEventCount = 0;
        return with(ReqPollEvent, {});
    case 15: return with(ReqEventCycle, {});
    case 16: return with(ReqStopClock, {});
    default: return with(0, {});
    }
}

void Rs485StageClock(TRs485Command& command, const TRs485DateTime& t)
{
    const TRequestData d = TRequestData::Bytes({Bcd(t.Second), Bcd(t.Minute), Bcd(t.Hour), Bcd(t.DayIndex + 1),
                                                Bcd(t.MonthIndex + 1), Bcd(t.YearIndex + 7)});
    command.Data.CmdData = d.CmdData;
    command.Data.CmdDataCount = d.CmdDataCount;
}

int Rs485FirstUirEntry(int segment)
{
    if (segment == 0)
        return 0;
    if (segment >= 1 && segment <= 10)
        return 4 * segment - 1;
    return -1;
}

int Rs485Run(TCbProtocol& proto, TGlobalState& state, int32_t cb, int32_t code)
{
    TRs485Command c;
    c.Code = code;
    return Rs485Run(proto, state, cb, c);
}

int Rs485Run(TCbProtocol& proto, TGlobalState& state, int32_t cb, const TRs485Command& command)
{
    const int opened = proto.OpenPortForCb(cb);
    TCbData* rec = state.Cb(cb);
    if (rec == nullptr || rec->LastPortError.load() != 0 || opened < 0) {
        proto.ClosePortForCb(cb);
        return opened < 0 ? opened : -6;
    }
    state.ApplyRequestData(command.Data);
    const int result = proto.Dispatch(cb, command.Code);
    proto.ClosePortForCb(cb);
    return result;
}

}  // namespace kestrel


#include "state/FileIo.h"

namespace kestrel {

std::string Rs485LogFileBytes(const std::string& text)
{
    std::string out = "\xEF\xBB\xBF";
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        out += line + "\r\n";
        start = end + 1;
    }
    return out;
}

namespace {

std::string Utf8Path(const std::filesystem::path& p)
{
    const std::u8string s = p.u8string();
    return std::string(s.begin(), s.end());
}

}  // namespace

std::string Rs485SaveLog(const std::filesystem::path& path, const std::string& text)
{
    switch (ReplaceFileAtomically(path, Rs485LogFileBytes(text))) {
    case ReplaceFileResult::Ok: return {};
    case ReplaceFileResult::CannotCreate:
        return "Не удалось создать файл " + Utf8Path(path) + ". Журнал обмена не сохранён.";
    default:
        return "Ошибка записи в файл " + Utf8Path(path) + ". Журнал обмена не сохранён.";
    }
}

}  // namespace kestrel
