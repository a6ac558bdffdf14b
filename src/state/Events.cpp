#include "state/Events.h"

#include <algorithm>
#include <new>

namespace kestrel {

bool TKestrelEvents::Append(const TEventData& e)
{
    std::lock_guard lock(mutex_);
    try {
        items_.push_back(e);
    } catch (const std::bad_alloc&) {
        return false;
    }
    TrimLocked();
    cursor_ = 0;
    return true;
}

bool TKestrelEvents::InsertAt(const TEventData& e, int32_t position)
{
    std::lock_guard lock(mutex_);
    try {
        if (position < 0)
            position = 0;
        if (static_cast<size_t>(position) >= items_.size())
            items_.push_back(e);
        else
            items_.insert(items_.begin() + position, e);
    } catch (const std::bad_alloc&) {
        return false;
    }
    if (position == 0)
        ++frontInserts_;
    TrimLocked();
    cursor_ = 0;
    return true;
}

void TKestrelEvents::TrimLocked()
{
    // The limit is at least 1, so the front (the newest) is never dropped.
    while (items_.size() > static_cast<size_t>(limit_))
        items_.pop_back();
    if (static_cast<size_t>(cursor_) >= items_.size())
        cursor_ = 0;
}

void TKestrelEvents::SetLimit(int32_t limit)
{
    std::lock_guard lock(mutex_);
    limit_ = limit < 1 ? 1 : limit;
    TrimLocked();
}

int32_t TKestrelEvents::Limit() const
{
    std::lock_guard lock(mutex_);
    return limit_;
}

void TKestrelEvents::Clear()
{
    std::lock_guard lock(mutex_);
    items_.clear();
    cursor_ = 0;
}

bool TKestrelEvents::SetCursor(int32_t index)
{
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= items_.size())
        return false;
    cursor_ = index;
    return true;
}

TEventData TKestrelEvents::GetCurrent() const
{
    std::lock_guard lock(mutex_);
    if (static_cast<size_t>(cursor_) >= items_.size())
        return {};
    return items_[static_cast<size_t>(cursor_)];
}

int32_t TKestrelEvents::Count() const
{
    std::lock_guard lock(mutex_);
    return static_cast<int32_t>(items_.size());
}

int32_t TKestrelEvents::Cursor() const
{
    std::lock_guard lock(mutex_);
    return cursor_;
}

bool TKestrelEvents::At(int32_t index, TEventData& out) const
{
    std::lock_guard lock(mutex_);
    if (index < 0 || static_cast<size_t>(index) >= items_.size())
        return false;
    out = items_[static_cast<size_t>(index)];
    return true;
}

std::vector<TEventData> TKestrelEvents::Snapshot() const
{
    std::lock_guard lock(mutex_);
    return {items_.begin(), items_.end()};
}

std::vector<TEventData> TKestrelEvents::Snapshot(uint64_t& frontInserts) const
{
    std::lock_guard lock(mutex_);
    frontInserts = frontInserts_;
    return {items_.begin(), items_.end()};
}

std::vector<TEventData> TKestrelEvents::NewerThan(uint64_t since, uint64_t& frontInserts) const
{
    std::lock_guard lock(mutex_);
    frontInserts = frontInserts_;
    const uint64_t fresh = frontInserts_ > since ? frontInserts_ - since : 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(fresh, items_.size()));
    return {items_.rend() - static_cast<std::ptrdiff_t>(n), items_.rend()};
}

void TKestrelEvents::Walk(const std::function<bool(const TEventData&)>& visit) const
{
    std::lock_guard lock(mutex_);
    for (const auto& e : items_)
        if (!visit(e))
            break;
}

}  // namespace kestrel
