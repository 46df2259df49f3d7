#pragma once

#include "capture/ImageStore.h"
#include "platform/ClipboardImage.h"
#include "state/Outcome.h"
#include "state/Sequencer.h"
#include "state/Settings.h"
#include "state/StateStore.h"

#include <QHash>
#include <QImage>
#include <QFuture>
#include <QObject>
#include <QThreadPool>
#include <deque>
#include <functional>
#include <optional>

// The local shots: taking a new image (numbered, normalised, deduplicated), upload records, selection,
// pause, and retention by age and total size. Lives on the main thread.
class ShotStore : public QObject {
    Q_OBJECT
public:
    enum class Outcome { stored, updated, duplicate, refused };
    enum class Refusal { none, paused, noDestination, tooSoon, dailyLimit, unreadable, tooLarge, writeFailed };

    struct Result {
        Outcome outcome = Outcome::refused;
        Refusal refusal = Refusal::none;
        QString shotName;  // stored or updated shot
        QString logText;   // the outcome's log line
        QString flashText; // set for refusals the user should see at once
    };

    ShotStore(StateStore& state, Sequencer& sequencer, QString shotsDirectory, QObject* parent = nullptr);
    ~ShotStore() override;

    const QList<Shot>& shots() const { return state.state().shots; }
    std::optional<Shot> shot(const QString& name) const;
    // Advances whenever a shot is added or removed (not when one changes): views that list the shots by name
    // redo their lists only then.
    quint64 listChanges() const { return listed; }
    QString shotsDirectory() const { return directory; }

    // The shot the next paste uses; none means the newest.
    std::optional<QString> selected() const { return state.state().selectedShot; }
    void setSelected(const std::optional<QString>& name);

    bool paused() const { return isPaused; }
    void setPaused(bool paused);

    int todayCount(const QDateTime& now) const;
    int doneCount(const QUuid& serverId, const QDateTime& now) const;

    Result handle(const QImage& image, const Settings& settings, bool hasEnabledServer, const QDateTime& now);
    // handle() with the image work (decoding, scaling, encoding, fingerprint, writing the file) on a worker
    // thread: `done` runs here with the result, in the order the images came, so shots are numbered in that order.
    void take(const ClipboardImage& image, const Settings& settings, bool hasEnabledServer, const QDateTime& now,
              std::function<void(const Result&)> done);
    // Waits for the images still being worked on and stores them (before quitting).
    void finishPending();
    // The image work (ImageStore::normalise); replaceable to hold an encode back in tests.
    std::function<std::optional<NormalisedImage>(const QImage&, int maxLongSide, qint64 maxBytes,
                                                 const QByteArray& sourcePng)>
        normalise = &ImageStore::normalise;

    void setUpload(const QString& name, const QUuid& serverId, const Upload& upload);
    void markPasted(const QString& name);
    bool remove(const QString& name);
    QStringList removeAll();
    // Retention by age, then by total size, using the sizes known from the last folder walk.
    QStringList purgeLocal(const Settings& settings, const QDateTime& now);
    // The start-up round also takes back finished shot files that no record lists (a crash between writing an
    // image and writing its record, or between dropping a record and deleting its file) and removes the
    // temporary files of writes a crash cut off.
    enum class Round { hourly, atStart };
    // One walk over the folder (sizes; files no shot lists go when older than the retention), then the purge.
    QStringList maintain(const Settings& settings, const QDateTime& now, Round round = Round::hourly);
    // maintain() with the walk on the worker; `done` gets the purged names here.
    void maintainSoon(const Settings& settings, const QDateTime& now, Round round,
                      std::function<void(const QStringList&)> done = {});
    // Receives the names of shots the start-up round took back, once their records are in the state.
    std::function<void(const QStringList& names)> onTakenBack;

Q_SIGNALS:
    void changed();

private:
    // An image worked on: encoded, and its bytes already written and synced to a temporary file beside the
    // day's shots, so this thread only renames it.
    struct Prepared {
        std::optional<NormalisedImage> image;
        std::optional<QString> staged;
        QString unreadable; // why the image did not decode
    };
    struct Pending {
        QDateTime now;
        Settings settings;
        std::optional<Result> refused; // decided as it came
        QFuture<Prepared> work;
        std::function<void(const Result&)> done;
    };

    // The rules that hold whatever came before (pause, destination) and those that depend on it.
    std::optional<Result> refusedOnArrival(const Settings& settings, bool hasEnabledServer) const;
    std::optional<Result> refusedInTurn(const Settings& settings, const QDateTime& now) const;
    Result keep(const std::optional<NormalisedImage>& image, const Settings& settings, const QDateTime& now,
                std::optional<QString> staged = std::nullopt);
    // Puts the image's bytes at `path`: the staged file when there is one (used up either way), else a write.
    ::Outcome<> place(const QString& path, const NormalisedImage& image, std::optional<QString>& staged);
    QString dayFolder(const QDateTime& now) const;
    void finishReady();
    static Result refuse(Refusal refusal, const QString& reason, const QString& flash = {});
    std::optional<Result> updateInPlace(const NormalisedImage& image, const QDateTime& now,
                                        std::optional<QString>& staged);
    Result storeNew(const NormalisedImage& image, const QDateTime& now, std::optional<QString>& staged);
    // Deletes the shots' files and records in one state write; keeps selection and last hash honest.
    void forget(const QStringList& names);
    struct FolderScan {
        QHash<QString, qint64> bytesByName; // the listed shots' files
        qint64 unlistedBytes = 0;           // what is left in the folder beside them
        QList<Shot> found;                  // finished shot files no record lists (start-up round)
        QStringList unreadable;             // files named like finished shots that do not decode
    };
    // Runs on any thread, over a copy of the shot list.
    static FolderScan scanFolder(const QString& directory, const QList<Shot>& listed, const QDateTime& cutoff,
                                 bool removeUnrecorded);
    void applyScan(const FolderScan& scan);
    void takeBack(const QList<Shot>& found);
    bool removesUnrecorded(Round round) const;
    std::optional<qsizetype> indexOf(const QString& name) const;
    qint64 bytesOf(const Shot& shot);
    void failInterruptedUploads(const QDateTime& now);
    // True when `path` names a file in the shot folder (or a folder below it).
    QList<bool> areInside(const QStringList& paths) const;

    StateStore& state;
    Sequencer& sequencer;
    QString directory;
    bool isPaused = false;
    std::optional<QDateTime> lastAccepted;
    std::deque<Pending> pending;
    QThreadPool worker; // one thread: images are worked on one at a time
    QHash<QString, qint64> fileBytes; // by shot name
    qint64 unlistedBytes = 0;         // files in the folder that no shot lists, at the last walk
    // The counts of one local calendar day, kept as shots and upload marks change so the views' status lines
    // cost nothing however many shots pile up; taken afresh by a walk when asked about another day.
    struct DayCounts {
        qint64 from = 0; // the day's first millisecond since the epoch
        qint64 to = 0;   // the next day's; from == to: nothing counted yet
        int shots = 0;
        QHash<QString, int> done; // by upload key (the destination's id as stored)
        bool covers(const QDateTime& time) const;
    };
    const DayCounts& countsFor(const QDateTime& now) const;
    // Adds (+1) or takes away (-1) a shot as it stands, when it falls on the counted day.
    void tally(const Shot& shot, int sign) const;
    mutable DayCounts counted;
    quint64 listed = 0;
};
