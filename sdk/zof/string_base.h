#pragma once
// zof: the SDK's 8-bit (UTF-8) string interface. Every text that crosses
// between the component and the player goes through this interface.
#include <cstdint>

namespace zof {

// Sizes in the SDK layer are 32-bit on both builds.
using t_size = std::uint32_t;
// "Up to the terminating zero": the largest 32-bit value.
constexpr t_size infinite_size = ~t_size(0);

class string_receiver {
public:
    // Slot 1: append up to `max` bytes of `text`, stopping at a zero byte.
    virtual void append(const char* text, t_size max = infinite_size) = 0;
protected:
    ~string_receiver() = default;
};

// The seven virtual operations, in slot order: append, text, assign, cut,
// length, open_buffer, close_buffer.
class string_base : public string_receiver {
public:
    virtual const char* text() const = 0;
    virtual void assign(const char* text, t_size max = infinite_size) = 0;
    virtual void cut(t_size length) = 0;
    virtual t_size length() const = 0;
    virtual char* open_buffer(t_size n) = 0;
    virtual void close_buffer() = 0;

    bool is_empty() const { return length() == 0; }
protected:
    ~string_base() = default;
};

} // namespace zof
