#include "journal/JournalRows.h"

#include "protocol/Protocol.h"

namespace kestrel {

const std::array<std::string, kJournalColumns> kJournalHeaders{
    "№ п/п", "Код", "Событие", "Дата/время события"};

TJournalRow JournalRow(int number, const TEventData& e)
{
    return {std::to_string(number), EventCodeText(e.Code), EventListText(e), EventListDate(e)};
}

std::vector<TJournalRow> RenderJournal(const std::vector<TEventData>& events)
{
    std::vector<TJournalRow> rows;
    rows.reserve(events.size());
    int number = 0;
    for (const auto& e : events)
        rows.push_back(JournalRow(++number, e));
    return rows;
}

std::vector<TJournalRow> RenderJournal(const TKestrelEvents& events)
{
    return RenderJournal(events.Snapshot());
}

}  // namespace kestrel
