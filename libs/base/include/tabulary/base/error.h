// Error values and Result<T> for the engine libraries. Errors are returned,
// never thrown across library boundaries; the message is meant for the user.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <variant>

namespace tab {

enum class Errc {
    Corrupt,        // the file's bytes contradict the format
    Unsupported,    // a valid file we cannot (yet) read
    Io,             // the operating system refused
    WrongPassword,  // missing or wrong database password
    NotFound,       // no such table, column, ...
    InvalidArgument,
    Internal,  // an invariant of our own broke
};

class Error {
public:
    Error(Errc code, std::string message) : m_code(code), m_message(std::move(message)) {}

    Errc code() const { return m_code; }
    const std::string& message() const { return m_message; }

    // Prefix the message with context, e.g. the file name.
    Error withContext(const std::string& context) const {
        return Error(m_code, context + ": " + m_message);
    }

private:
    Errc m_code;
    std::string m_message;
};

Error corrupt(uint32_t page, const std::string& what);
Error corrupt(const std::string& what);
Error unsupported(const std::string& what);
Error ioError(int errnum, const std::string& path);

// Value-or-Error. Small stand-in for std::expected (C++23).
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_v(std::in_place_index<0>, std::move(value)) {}
    Result(Error error) : m_v(std::in_place_index<1>, std::move(error)) {}

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }

    T& value() & { return std::get<0>(m_v); }
    const T& value() const& { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }

    const Error& error() const { return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

// Result without a value.
class [[nodiscard]] Status {
public:
    Status() = default;
    Status(Error error) : m_error(std::move(error)), m_ok(false) {}
    static Status success() { return Status(); }

    bool ok() const { return m_ok; }
    explicit operator bool() const { return m_ok; }
    const Error& error() const { return m_error; }

private:
    Error m_error{Errc::InvalidArgument, {}};
    bool m_ok = true;
};

}  // namespace tab

// Propagate an error from an expression yielding Result<T> or Status.
#define TAB_TRY(expr)                                     \
    do {                                                  \
        auto tab_try_r_ = (expr);                         \
        if (!tab_try_r_.ok()) return tab_try_r_.error();  \
    } while (0)

#define TAB_CONCAT_INNER(a, b) a##b
#define TAB_CONCAT(a, b) TAB_CONCAT_INNER(a, b)
#define TAB_ASSIGN_OR_RETURN_IMPL(tmp, lhs, expr) \
    auto tmp = (expr);                            \
    if (!tmp.ok()) return tmp.error();            \
    lhs = std::move(tmp).value()
// lhs = value of expr, or return its error.
#define TAB_ASSIGN_OR_RETURN(lhs, expr) \
    TAB_ASSIGN_OR_RETURN_IMPL(TAB_CONCAT(tab_aor_, __LINE__), lhs, expr)
