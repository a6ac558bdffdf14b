#pragma once
// What the core asks of the windows. The core never touches a window: it calls
// these hooks, and the Qt side queues the work to the user-interface thread.
// Every method has a do-nothing default, so tests and tools implement only
// what they watch.
#include <string>

namespace kestrel {

class IUiHooks {
public:
    virtual ~IUiHooks() = default;
    // From the acquisition thread (or the console's exchanges): bring a
    // minimised main window back after an alarm event.
    virtual void RestoreMainWindow() {}
    // From the acquisition thread: close the wait window if it is shown.
    virtual void CloseWaitWindow() {}
    // Traffic log of the service console, one line (UTF-8). Called only while
    // ConsoleOpen is set, on the thread that runs the exchange.
    virtual void LogLine(const std::string& /*utf8*/) {}

    // Reactions seen only while the service console is open (ConsoleOpen set),
    // called on the thread that runs the console's command.
    // The event cycle received new events: show the journal window at the
    // console window's left and top position and refill its list.
    virtual void ConsoleShowJournal() {}
    // A journal record was read: write it into the last row of the journal
    // window's table (column 0 the table's row count minus 1, then code,
    // text, date), add an empty row, show the window centred over the console.
    virtual void ConsoleJournalRecord(const std::string& /*code*/, const std::string& /*text*/,
                                      const std::string& /*date*/) {}
    // A clock read: fill the date-and-time display ("Время и дата ЦБ") and show
    // it centred over the console. An empty month name leaves the month text
    // as it was (the month value was not 1..12).
    virtual void ConsoleShowClock(int /*year*/, const std::string& /*monthName*/, int /*day*/,
                                  int /*hour*/, int /*minute*/, int /*second*/) {}
};

}  // namespace kestrel
