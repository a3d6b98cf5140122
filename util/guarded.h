// Guarded<T>: a compound value shared between threads, read and written whole under a mutex.
#pragma once

#include <mutex>
#include <utility>

template <typename T>
class Guarded {
public:
    Guarded() = default;
    explicit Guarded(T initial) : value(std::move(initial)) {}
    Guarded(const Guarded&) = delete;
    Guarded& operator=(const Guarded&) = delete;

    T Get() const {
        std::lock_guard lock(mutex);
        return value;
    }
    void Set(T newValue) {
        std::lock_guard lock(mutex);
        value = std::move(newValue);
    }
    // Runs change(value) under the lock, for read-modify-write steps such as adding to a total.
    template <typename F>
    auto Update(F&& change) {
        std::lock_guard lock(mutex);
        return std::forward<F>(change)(value);
    }

private:
    mutable std::mutex mutex;
    T value{};
};
