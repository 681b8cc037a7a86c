// A small success-or-error type for operations that can fail because of the environment.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace quorlan {

enum class ErrorKind {
    NotFound,          // the path names nothing
    PermissionDenied,  // the device or file exists but may not be opened
    NotADisk,          // a directory, a character device, or a file too small to hold a sector
    ReadFailed,        // the medium answered with an I/O error
    InvalidArgument,   // a caller's value out of range (partition number, slot)
    Other,
};

struct Error {
    ErrorKind kind = ErrorKind::Other;
    std::string message;  // one line, for a person
};

template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_value(std::move(value)) {}
    Result(Error error) : m_value(std::move(error)) {}

    [[nodiscard]] bool ok() const { return std::holds_alternative<T>(m_value); }
    explicit operator bool() const { return ok(); }

    [[nodiscard]] T& value() & { return std::get<T>(m_value); }
    [[nodiscard]] const T& value() const& { return std::get<T>(m_value); }
    [[nodiscard]] T&& value() && { return std::get<T>(std::move(m_value)); }
    [[nodiscard]] const Error& error() const { return std::get<Error>(m_value); }

    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() & { return value(); }
    const T& operator*() const& { return value(); }

private:
    std::variant<T, Error> m_value;
};

// Success without a value, or an error.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Error error) : m_error(std::move(error)), m_failed(true) {}

    [[nodiscard]] bool ok() const { return !m_failed; }
    explicit operator bool() const { return ok(); }
    [[nodiscard]] const Error& error() const { return m_error; }

private:
    Error m_error;
    bool m_failed = false;
};

}  // namespace quorlan
