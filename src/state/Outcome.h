#pragma once

#include <QString>
#include <optional>
#include <utility>

// Why an operation failed: a ready Chinese message, and what the user could give to make it work.
struct Failure {
    QString message;
    bool needsPassword = false;  // a password (typed once) may get it through
    bool needsLoginName = false; // a login name has to be given first
    bool unreachable = false;    // the destination refused our key or could not be reached at all

    static Failure needingPassword(QString message) { return {std::move(message), true, false}; }
    static Failure needingLoginName(QString message, bool andPassword = false)
    {
        return {std::move(message), andPassword, true};
    }
    bool operator==(const Failure&) const = default;
};

// The one failure type: the value of an operation, or its Failure. A subprocess's own result is a
// CommandResult; everything that can fail with a message a user reads returns this.
template <class T = void>
class Outcome {
public:
    static Outcome success(T value) { return Outcome(std::move(value), {}); }
    static Outcome failure(QString message) { return Outcome(std::nullopt, {std::move(message)}); }
    static Outcome failure(Failure why) { return Outcome(std::nullopt, std::move(why)); }

    bool ok() const { return content.has_value(); }
    const T& value() const { return *content; }
    const QString& failure() const { return why.message; }
    const Failure& error() const { return why; }
    bool needsPassword() const { return why.needsPassword; }
    bool needsLoginName() const { return why.needsLoginName; }

private:
    Outcome(std::optional<T> value, Failure failure) : content(std::move(value)), why(std::move(failure)) {}
    std::optional<T> content;
    Failure why;
};

template <>
class Outcome<void> {
public:
    static Outcome success() { return Outcome(true, {}); }
    static Outcome failure(QString message) { return Outcome(false, {std::move(message)}); }
    static Outcome failure(Failure why) { return Outcome(false, std::move(why)); }

    bool ok() const { return succeeded; }
    const QString& failure() const { return why.message; }
    const Failure& error() const { return why; }
    bool needsPassword() const { return why.needsPassword; }
    bool needsLoginName() const { return why.needsLoginName; }

private:
    Outcome(bool ok, Failure failure) : succeeded(ok), why(std::move(failure)) {}
    bool succeeded;
    Failure why;
};
