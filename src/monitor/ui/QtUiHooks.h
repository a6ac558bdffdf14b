#pragma once
// IUiHooks for the Qt windows: every request of the acquisition thread is
// queued to the user-interface thread; nothing here touches a window from
// another thread.
#include <QObject>
#include <QTime>
#include <cstdint>
#include <functional>
#include <string>

#include "state/UiHooks.h"

namespace kestrel {

class TQtUiHooks final : public IUiHooks {
public:
    // context: the object whose thread runs the queued work (the main window).
    // It outlives the acquisition thread (stopped before the window goes);
    // work still queued when it is destroyed is dropped by Qt.
    explicit TQtUiHooks(QObject* context) : context_(context) {}

    void RestoreMainWindow() override { Queue(onRestore_); }
    void CloseWaitWindow() override { Queue(onCloseWait_); }
    // Stamped here, on the thread that runs the exchange, so the console's
    // "+N мс" gaps are those of the bytes on the wire, not of the queue.
    void LogLine(const std::string& utf8) override
    {
        if (onLogLine_)
            Post([f = onLogLine_, utf8, ms = MsOfDay ? MsOfDay() : -1] { f(utf8, ms); });
    }
    void ConsoleShowJournal() override { Queue(onConsoleJournal_); }
    void ConsoleJournalRecord(const std::string& code, const std::string& text, const std::string& date) override
    {
        if (onConsoleRecord_)
            Post([f = onConsoleRecord_, code, text, date] { f(code, text, date); });
    }
    void ConsoleShowClock(int year, const std::string& month, int day, int hour, int minute, int second) override
    {
        if (onConsoleClock_)
            Post([=, f = onConsoleClock_] { f(year, month, day, hour, minute, second); });
    }

    // Handlers, set on the user-interface thread before the thread starts.
    std::function<void()> onRestore_;
    std::function<void()> onCloseWait_;
    // A log line and the PC time (ms since midnight) when the core wrote it.
    std::function<void(const std::string&, int64_t)> onLogLine_;
    std::function<void()> onConsoleJournal_;
    std::function<void(const std::string&, const std::string&, const std::string&)> onConsoleRecord_;
    std::function<void(int, const std::string&, int, int, int, int)> onConsoleClock_;
    // The time source of the log stamps; called on the exchange's thread.
    std::function<int64_t()> MsOfDay = [] { return static_cast<int64_t>(QTime::currentTime().msecsSinceStartOfDay()); };

private:
    void Queue(const std::function<void()>& f)
    {
        if (f)
            Post(f);
    }
    // Always queued, also from the user-interface thread itself: the caller
    // (a command running inside a wait loop) must not re-enter a window.
    void Post(std::function<void()> f)
    {
        if (context_)
            QMetaObject::invokeMethod(context_, std::move(f), Qt::QueuedConnection);
    }

    QObject* context_;
};

}  // namespace kestrel
