#pragma once
// A value that two threads hand over. Reads and writes are whole and
// sequentially consistent, so a field written on the acquisition thread is
// seen by the user-interface thread at its next look (and the other way round).
// It copies by value so that records can be staged and compared in tests.
#include <atomic>

namespace kestrel {

template <class T>
class Atom {
public:
    Atom() noexcept : v_(T{}) {}
    Atom(T v) noexcept : v_(v) {}  // NOLINT: implicit on purpose, reads like a plain field
    Atom(const Atom& o) noexcept : v_(o.load()) {}
    Atom& operator=(const Atom& o) noexcept { store(o.load()); return *this; }
    Atom& operator=(T v) noexcept { store(v); return *this; }

    operator T() const noexcept { return load(); }  // NOLINT
    T load() const noexcept { return v_.load(); }
    void store(T v) noexcept { v_.store(v); }
    T exchange(T v) noexcept { return v_.exchange(v); }
    // Replace `expected` by `desired` only when the value still is `expected`.
    bool compareExchange(T& expected, T desired) noexcept { return v_.compare_exchange_strong(expected, desired); }

private:
    std::atomic<T> v_;
};

}  // namespace kestrel
