// A small result type for failures inside the core. Failures come back as values;
// exceptions never cross a library boundary or a thread.
//
// Error::message is UTF-8: it is meant for a person (terminal or dialog) and is
// written into a Shift_JIS file only after one conversion at that edge.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace tarn {

struct Error {
    std::string message;
    long long offset = -1;  // byte offset in the input where that applies, else -1
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : m_v(std::in_place_index<0>, std::move(value)) {}      // NOLINT implicit
    Result(Error error) : m_v(std::in_place_index<1>, std::move(error)) {}  // NOLINT implicit

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    T& value() & { return std::get<0>(m_v); }
    const T& value() const& { return std::get<0>(m_v); }
    T&& value() && { return std::get<0>(std::move(m_v)); }
    T* operator->() { return &value(); }
    const T* operator->() const { return &value(); }
    T& operator*() { return value(); }
    const T& operator*() const { return value(); }
    const Error& error() const { return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

struct Ok {};
using Status = Result<Ok>;

inline Error makeError(std::string message, long long offset = -1) {
    return Error{std::move(message), offset};
}

}  // namespace tarn
