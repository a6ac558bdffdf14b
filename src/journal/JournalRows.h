#pragma once
// The journal table's content, rendered from an event list. Everything here
// is plain text (UTF-8) so the window only copies it into its cells.
#include <array>
#include <string>
#include <vector>

#include "journal/JournalExport.h"
#include "state/Events.h"

namespace kestrel {

// Header texts of row 0 and the initial column widths in pixels.
extern const std::array<std::string, kJournalColumns> kJournalHeaders;
inline constexpr std::array<int, kJournalColumns> kJournalColumnWidths{64, 79, 464, 232};

// Row of the k-th event (number = k + 1): number, code, list text, list date.
TJournalRow JournalRow(int number, const TEventData& e);
// Rows of a list, in list order (no header row).
std::vector<TJournalRow> RenderJournal(const std::vector<TEventData>& events);
// Rows of the list as it is at one moment (a snapshot under its lock).
std::vector<TJournalRow> RenderJournal(const TKestrelEvents& events);

}  // namespace kestrel
