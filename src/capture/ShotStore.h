#pragma once

#include "state/Sequencer.h"
#include "state/Settings.h"
#include "state/StateStore.h"

#include <QImage>
#include <QObject>
#include <optional>

// The local shots: taking a new image (numbered, normalised, deduplicated), upload records, selection,
// pause, and retention by age and total size. Lives on the main thread.
class ShotStore : public QObject {
    Q_OBJECT
public:
    enum class Outcome { stored, updated, duplicate, refused };
    enum class Refusal { none, paused, noDestination, tooSoon, dailyLimit, tooLarge, writeFailed };

    struct Result {
        Outcome outcome = Outcome::refused;
        Refusal refusal = Refusal::none;
        QString shotName;  // stored or updated shot
        QString logText;   // the outcome's log line
        QString flashText; // set for refusals the user should see at once
    };

    ShotStore(StateStore& state, Sequencer& sequencer, QString shotsDirectory, QObject* parent = nullptr);

    const QList<Shot>& shots() const { return state.state().shots; }
    std::optional<Shot> shot(const QString& name) const;
    QString shotsDirectory() const { return directory; }

    // The shot the next paste uses; none means the newest.
    std::optional<QString> selected() const { return state.state().selectedShot; }
    void setSelected(const std::optional<QString>& name);

    bool paused() const { return isPaused; }
    void setPaused(bool paused);

    int todayCount(const QDateTime& now) const;
    int doneCount(const QUuid& serverId, const QDateTime& now) const;

    Result handle(const QImage& image, const Settings& settings, bool hasEnabledServer, const QDateTime& now);

    void setUpload(const QString& name, const QUuid& serverId, const Upload& upload);
    void markPasted(const QString& name);
    bool remove(const QString& name);
    QStringList removeAll();
    QStringList purgeLocal(const Settings& settings, const QDateTime& now);

Q_SIGNALS:
    void changed();

private:
    Result refuse(Refusal refusal, const QString& reason, const QString& flash = {});
    std::optional<Result> updateInPlace(const struct NormalisedImage& image, const QDateTime& now);
    Result storeNew(const struct NormalisedImage& image, const QDateTime& now);
    // Deletes the shots' files and records in one state write; keeps selection and last hash honest.
    void forget(const QStringList& names);
    void removeOrphans(const QDateTime& cutoff);
    void failInterruptedUploads(const QDateTime& now);
    // True when `path` names a file in the shot folder (or a folder below it).
    bool isInside(const QString& path) const;

    StateStore& state;
    Sequencer& sequencer;
    QString directory;
    bool isPaused = false;
    std::optional<QDateTime> lastAccepted;
};
