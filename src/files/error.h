// SPDX-License-Identifier: Apache-2.0
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

namespace quorvale {

// What a caller may branch on; everything else is Other, told by its code and words.
enum class ErrorKind : std::uint8_t {
    NotFound,        // no file, folder or device of that name
    AccessDenied,    // the user may not (a port needs a group, a file its rights)
    Busy,            // another program holds it
    Gone,            // the device went away (a pulled adapter)
    NotATerminal,    // a file or device that is no serial port
    NotRegularFile,  // a folder, FIFO or device where a file belongs
    TooLarge,        // more than the caller takes
    AlreadyExists,   // a file that must not be overwritten is there
    Malformed,       // input that is not what it claims to be
    Other,
};

// One refusal of the system's, made where it happens: what failed, the system's own code as
// it gave it (an errno value on Linux, a Win32 code on Windows, never translated into the
// other; 0 when the refusal is the program's own) and its words.
class Error {
public:
    Error(ErrorKind kind, long code, std::string words)
        : m_kind(kind), m_code(code), m_words(std::move(words)) {}

    // From the system's own code: the kind it stands for and the system's words for it, after
    // `what` failed ("what: words"; the words alone without it).
    static Error FromSystem(long code, const std::string& what = {});

    ErrorKind Kind() const { return m_kind; }
    long Code() const { return m_code; }
    const std::string& Words() const { return m_words; }

private:
    ErrorKind m_kind;
    long m_code;
    std::string m_words;
};

// The refusal a Result holds instead of a value; made by Refused.
struct Refusal {
    Error error;
};

inline Refusal Refused(Error error) {
    return {std::move(error)};
}

// A value, or the refusal that stands where it would be: std::expected's shape, which the
// compilers this is built with don't all have yet.
template <typename T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_held(std::in_place_index<0>, std::move(value)) {}
    Result(Refusal refusal) : m_held(std::in_place_index<1>, std::move(refusal.error)) {}

    bool has_value() const { return m_held.index() == 0; }
    explicit operator bool() const { return has_value(); }
    T& operator*() & { return std::get<0>(m_held); }
    const T& operator*() const& { return std::get<0>(m_held); }
    T* operator->() { return &std::get<0>(m_held); }
    const T* operator->() const { return &std::get<0>(m_held); }
    const Error& error() const { return std::get<1>(m_held); }

    friend bool operator==(const Result& result, const T& value) {
        return result.has_value() && *result == value;
    }

private:
    std::variant<T, Error> m_held;
};

// Done, or why not.
template <>
class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Refusal refusal) : m_error(std::move(refusal.error)) {}

    bool has_value() const { return !m_error; }
    explicit operator bool() const { return has_value(); }
    const Error& error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

using Status = Result<void>;

// The kind a system code stands for. Each system has its own codes (this machine's).
ErrorKind KindOfSystemCode(long code);

}  // namespace quorvale
