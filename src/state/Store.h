#pragma once

#include "state/Json.h"
#include "state/Settings.h"
#include "state/StateFile.h"

#include <QJsonObject>
#include <functional>
#include <optional>

// Reads and atomically writes the JSON state files of one data directory. A file that cannot be decoded
// is moved aside (never overwritten) and logged, and the caller continues with defaults. Write failures are
// logged and otherwise ignored: the program keeps working with what it has in memory.
class Store {
public:
    explicit Store(QString directory);

    QString directory() const { return dir; }
    QString path(const QString& name) const;

    // The most a small state file (settings, windows, counters) may hold; each is far smaller.
    static constexpr qint64 maxFileBytes = qint64(16) << 20;

    // None when the file is missing or was unreadable (then it was kept aside). Only a regular file no
    // larger than `limit` is read: anything else in its place (a FIFO would block for ever, a huge file
    // would fill memory) is kept aside too.
    std::optional<QJsonObject> read(const QString& name, qint64 limit = maxFileBytes) const;
    // The file as `fromJson` makes it; none as for read(), and when it does not decode (then kept aside).
    template <typename T>
    std::optional<T> decode(const QString& name, T (*fromJson)(const QJsonObject&), qint64 limit = maxFileBytes) const
    {
        const auto object = read(name, limit);
        if (!object)
            return std::nullopt;
        try {
            return fromJson(*object);
        } catch (const JsonError& e) {
            setAside(name, e.text());
            return std::nullopt;
        }
    }
    bool write(const QString& name, const QJsonObject& object) const;

    Settings loadSettings() const;
    void saveSettings(const Settings& settings) const;
    StateFile loadState() const;
    void saveState(const StateFile& state) const;
    std::optional<Seq> loadSeq() const;
    void saveSeq(const Seq& seq) const;

private:
    void setAside(const QString& name, const QString& reason) const;

    QString dir;
};
