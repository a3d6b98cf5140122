// The port through which the core shows a message box: a modal box in the window program,
// a line on stderr in the headless one, a recording fake in tests.
#pragma once

#include <cstddef>
#include <string>

// The most characters of a system error text that a message box shows.
inline constexpr std::size_t kMessageTextLimit = 255;

class IMessagePort {
public:
    virtual ~IMessagePort() = default;
    // Shows text with an OK button and returns when it has been dismissed (or, headless, at once).
    // Callable from any thread.
    virtual void MessageBox(const std::string& text) = 0;
};
