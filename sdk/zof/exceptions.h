#pragma once
// zof: the library's exception classes. Failures in the SDK layer are always
// exceptions, never null pointers or error codes.
#include <exception>
#include <memory>
#include <new>
#include <string>

namespace zof {

// An exception that carries its message text. A text given as a literal is
// kept as a pointer; any other text is copied once and then shared by all
// copies of the exception, so copying never throws.
class exception_message : public std::exception {
public:
    struct literal_t {};
    static constexpr literal_t literal{};

    exception_message(literal_t, const char* text) noexcept : m_literal(text) {}
    explicit exception_message(const std::string& text)
        : m_literal(nullptr), m_owned(std::make_shared<const std::string>(text)) {}
    explicit exception_message(const char* text) : exception_message(std::string(text ? text : "")) {}

    const char* what() const noexcept override { return m_owned ? m_owned->c_str() : m_literal; }

private:
    const char* m_literal;
    std::shared_ptr<const std::string> m_owned;
};

// std::bad_alloc whose text is "bad allocation".
class exception_bad_alloc : public std::bad_alloc {
public:
    const char* what() const noexcept override { return "bad allocation"; }
};

[[noreturn]] void throw_bad_alloc();

// Declares an exception class with a default text; a text of its own may
// be given instead (exceptions thrown by the player carry theirs).
#define ZOF_DECLARE_EXCEPTION(NAME, BASE, DEFAULT_TEXT)                                                     \
    class NAME : public BASE {                                                                               \
    public:                                                                                                  \
        NAME() noexcept : BASE(::zof::exception_message::literal, DEFAULT_TEXT) {}                           \
        explicit NAME(const char* text) : BASE(text) {}                                                      \
        explicit NAME(const std::string& text) : BASE(text) {}                                               \
                                                                                                             \
    protected:                                                                                               \
        NAME(::zof::exception_message::literal_t tag, const char* text) noexcept : BASE(tag, text) {}        \
    }

ZOF_DECLARE_EXCEPTION(exception_overflow, exception_message, "Overflow");
ZOF_DECLARE_EXCEPTION(exception_bug_check, exception_message, "Bug check");
ZOF_DECLARE_EXCEPTION(exception_not_implemented, exception_bug_check, "Feature not implemented");
ZOF_DECLARE_EXCEPTION(exception_invalid_params, exception_message, "Invalid parameters");
ZOF_DECLARE_EXCEPTION(exception_invalid_permutation, exception_message, "Invalid permutation");

} // namespace zof
