#pragma once

#include <QString>
#include <optional>
#include <utility>

// The value of an operation, or the ready Chinese message of why it failed.
template <class T>
class Outcome {
public:
    static Outcome success(T value) { return Outcome(std::move(value), QString()); }
    static Outcome failure(QString message) { return Outcome(std::nullopt, std::move(message)); }

    bool ok() const { return content.has_value(); }
    const T& value() const { return *content; }
    const QString& failure() const { return message; }

private:
    Outcome(std::optional<T> value, QString text) : content(std::move(value)), message(std::move(text)) {}
    std::optional<T> content;
    QString message;
};
