// One error convention for the whole code base: operations that can fail return a Result, which
// holds either the value or an Error whose message names the object, the field and the problem.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace qv {

struct Error {
    std::string message;
};

template <class T> class Result {
public:
    Result(T value) : v_(std::move(value)) {}
    Result(Error error) : v_(std::move(error)) {}

    bool ok() const noexcept { return v_.index() == 0; }
    explicit operator bool() const noexcept { return ok(); }
    T &value() & { return std::get<0>(v_); }
    const T &value() const & { return std::get<0>(v_); }
    T &&value() && { return std::get<0>(std::move(v_)); }
    T *operator->() { return &std::get<0>(v_); }
    const T *operator->() const { return &std::get<0>(v_); }
    T &operator*() & { return std::get<0>(v_); }
    const T &operator*() const & { return std::get<0>(v_); }
    const Error &error() const { return std::get<1>(v_); }

private:
    std::variant<T, Error> v_;
};

// For operations that return nothing but may fail.
struct Ok {};
using Status = Result<Ok>;

} // namespace qv
