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
};

}  // namespace kestrel
