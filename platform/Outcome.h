// One way to say how a call below the front ends went: it worked (with its value), or what failed -- the
// system's error, the call that gave it and the path it was about -- so that a message can name all three.
//
// The failures of calls travel three ways below the front ends, and no others (no errno read after one of
// our calls, no bool or optional with errno beside it, no empty string meaning success):
//   1. this Failure, inside Status, Result<T> or platform::MoveResult: everywhere;
//   2. zip::ZipStatus with its zip::SystemError (the call and errno) beside it, at the ZIP writer's boundary;
//   3. zip::ReadResult, from the ZIP reader.
// Not failures of calls, and so not among them: the disk service's answer to an eject (the bus's own words)
// and the checks that give a person's reason for refusing a value or a name.
#pragma once

#include <cerrno>
#include <optional>
#include <string>
#include <utility>

namespace platform {

struct Failure {
    Failure() = default;
    Failure(int error_, const char* call_, std::string path_ = {})
        : error(error_), call(call_), path(std::move(path_)) {}

    int error = 0;          // an errno value
    const char* call = "";  // the call that failed ("open", "fsync", "linkat"); never null
    std::string path;       // the file or folder it was about; empty when the caller's own line names it

    // errno as it stands now, for the call just made.
    static Failure Now(const char* call, std::string path = {}) {
        return Failure{errno, call, std::move(path)};
    }
    // The same failure about another path (none: the caller's own line names it).
    Failure WithPath(std::string other) const { return Failure{error, call, std::move(other)}; }
    // Plain words for a person: the error, then the call and the path when there is a path
    // ("Input/output error (fsync /media/disk/IMG.jpg)").
    std::string Describe() const;
};

// Plain words for an errno value, for reports shown to a person.
std::string DescribeError(int error);

// A value, or the Failure that kept it from being made.
template <typename T>
class [[nodiscard]] Result {
  public:
    Result(T value) : m_value(std::move(value)) {}              // NOLINT: a value converts, as a return
    Result(Failure failure) : m_failure(std::move(failure)) {}  // NOLINT: so does a failure

    bool Ok() const { return m_value.has_value(); }
    explicit operator bool() const { return Ok(); }
    T& operator*() & { return *m_value; }
    const T& operator*() const& { return *m_value; }
    T&& operator*() && { return std::move(*m_value); }
    T* operator->() { return &*m_value; }
    const T* operator->() const { return &*m_value; }
    T value_or(T other) const& { return m_value ? *m_value : std::move(other); }
    // What failed; a Failure with error 0 when it worked.
    const Failure& Error() const { return m_failure; }

  private:
    std::optional<T> m_value;
    Failure m_failure;
};

// A call with nothing to give back but whether it worked.
class [[nodiscard]] Status {
  public:
    Status() = default;
    Status(Failure failure) : m_failure(std::move(failure)), m_failed(true) {}  // NOLINT: as a return
    // errno as it stands now when `ok` is false.
    static Status Check(bool ok, const char* call, std::string path = {}) {
        return ok ? Status() : Status(Failure::Now(call, std::move(path)));
    }
    // `error` when `ok` is false: for a call that did only part of its work.
    static Status Check(bool ok, int error, const char* call, std::string path = {}) {
        return ok ? Status() : Status(Failure{error, call, std::move(path)});
    }

    bool Ok() const { return !m_failed; }
    explicit operator bool() const { return Ok(); }
    const Failure& Error() const { return m_failure; }

  private:
    Failure m_failure;
    bool m_failed = false;
};

}  // namespace platform
