#pragma once

#include <atomic>
#include <exception>

namespace tevrak::platform {

// The clerk's wish to stop a long job (the Cancel button), set by a window and
// honoured by the engine at its next check, which throws Cancelled. Either
// side may be on any thread.
class CancelRequest {
public:
    void request() noexcept { m_requested.store(true, std::memory_order_relaxed); }
    bool requested() const noexcept { return m_requested.load(std::memory_order_relaxed); }
    void clear() noexcept { m_requested.store(false, std::memory_order_relaxed); }

private:
    std::atomic<bool> m_requested{false};
};

// Thrown where a requested cancel stops the work. Not a tevrak::Error: nothing
// failed, and no handler that lets a job go on after one file's error may
// swallow it.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "cancelled by the user"; }
};

} // namespace tevrak::platform
