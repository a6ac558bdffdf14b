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

void Stage(TGlobalState& state, std::initializer_list<uint8_t> bytes)
{
    size_t i = 0;
    for (uint8_t b : bytes)
        state.CmdData[i++] = b;
}

uint8_t Bcd(int v)
{
    return static_cast<uint8_t>(((v / 10) << 4) | (v % 10));
}

}  // namespace

int32_t Rs485StageCommand(TGlobalState& state, const TRs485Selection& s)
{
    state.Fcb = s.Fcb ? 1 : 0;
    state.UirSegment = static_cast<uint8_t>(s.Segment < 0 ? 0 : s.Segment);
    const int mode = (s.Mode >= 0 && s.Mode < 4) ? s.Mode : 0;
    switch (s.Command) {
    case 0: return ReqResetLink;
    case 1: return ReqReadJournalRecord;
    case 2: return ReqReadFuncTableNoMtz + mode;
    case 3: return ReqResetFcb;
    case 4: return ReqReadClock;
    case 5: return ReqReadUirSegment;
    case 6: return ReqClearJournal;
    case 7:
        switch (mode) {
        case 0: Stage(state, {0xC7, 0xC7, 0xFF, 0xFF}); break;
        case 1: Stage(state, {0xC6, 0xC6, 0xC6, 0xC1}); break;
        case 2: Stage(state, {0xC1, 0xC1, 0xC6, 0xC1}); break;
        default:
            Stage(state, {0xC7, 0xC7, 0xC6, 0xC1, static_cast<uint8_t>(s.Urov + 1),
                          static_cast<uint8_t>(s.Mtz)});
            break;
        }
        return ReqWriteFuncTableNoMtz + mode;
    case 8: return ReqWriteClock;
    case 9: return ReqWriteUirSegment;
    case 10: return ReqResetCb;
    case 11: Stage(state, {1}); return ReqSetAddress;
    case 12: Stage(state, {0}); return ReqSetSpeed;
    case 13: return ReqLinkStatus;
    case 14:
        if (TCbData* cur = state.Current())
            cur->NewEventCount = 0;
        return ReqPollEvent;
    case 15: return ReqEventCycle;
    case 16: return ReqStopClock;
    default: return 0;
    }
}

void Rs485StageClock(TGlobalState& state, const TRs485DateTime& t)
{
    Stage(state, {Bcd(t.Second), Bcd(t.Minute), Bcd(t.Hour), Bcd(t.DayIndex + 1),
                  Bcd(t.MonthIndex + 1), Bcd(t.YearIndex + 7)});
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
    const int opened = proto.OpenPortForCb(cb);
    TCbData* rec = state.Cb(cb);
    if (rec == nullptr || rec->LastPortError.load() != 0 || opened < 0) {
        proto.ClosePortForCb(cb);
        return opened < 0 ? opened : -6;
    }
    const int result = proto.Dispatch(cb, code);
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
