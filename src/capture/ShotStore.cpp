#include "capture/ShotStore.h"

#include "capture/ImageStore.h"
#include "state/Clock.h"
#include "state/AtomicFile.h"
#include "state/Json.h"
#include "state/Log.h"
#include "state/Paths.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>

namespace {
const QString interruptedText = QStringLiteral("上传被打断了（程序退出时还没传完）");

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1'000'000.0, 'g', 4);
}

// "37 KB"; a file under a kilobyte in bytes, as "0 KB" would read as empty.
QString sizeText(qint64 bytes)
{
    if (bytes < 1000)
        return QStringLiteral("%1 字节").arg(bytes);
    return QStringLiteral("%1 KB").arg((bytes + 512) / 1000);
}

// Files this program writes into a day folder: 20261206-101500-3.png, and a write's temporary file beside it.
bool isShotFileName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^\\d{8}-\\d{6}-\\d+\\.(png|jpg)(\\.tmp-\\w{6})?$"));
    return pattern.match(name).hasMatch();
}

// What a finished shot file's name tells: its local time and its number of the day.
struct ShotFileName {
    QDateTime taken;
    qint64 n = 0;
};

std::optional<ShotFileName> parseShotFileName(const QString& name)
{
    static const QRegularExpression pattern(QStringLiteral("^(\\d{8}-\\d{6})-(\\d+)\\.(png|jpg)$"));
    const QRegularExpressionMatch match = pattern.match(name);
    if (!match.hasMatch())
        return std::nullopt;
    const QDateTime taken = QDateTime::fromString(match.captured(1), QStringLiteral("yyyyMMdd-HHmmss"));
    bool ok = false;
    const qint64 n = match.captured(2).toLongLong(&ok);
    if (!taken.isValid() || !ok || n <= 0)
        return std::nullopt;
    return ShotFileName{taken, n};
}

// A finished shot file that no record lists, read back into a record; none when it does not decode.
std::optional<Shot> shotFromFile(const QFileInfo& file)
{
    const auto parsed = parseShotFileName(file.fileName());
    if (!parsed)
        return std::nullopt;
    QFile in(file.absoluteFilePath());
    if (!in.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray bytes = in.readAll();
    const QImage image = QImage::fromData(bytes);
    if (image.isNull())
        return std::nullopt;
    Shot shot;
    shot.n = parsed->n;
    shot.ts = parsed->taken.toUTC();
    shot.w = image.width();
    shot.h = image.height();
    shot.localPath = file.absoluteFilePath();
    shot.name = file.fileName();
    shot.hash = ImageStore::md5Hex(bytes);
    shot.fingerprint = ImageStore::fingerprint(image);
    return shot;
}

// A file's size, or all a folder holds.
qint64 bytesUnder(const QFileInfo& entry)
{
    if (!entry.isDir() || entry.isSymLink())
        return entry.size();
    qint64 total = 0;
    QDirIterator it(entry.absoluteFilePath(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        total += it.fileInfo().size();
    }
    return total;
}

// Day folders look like 2026-12-06.
bool isDayFolderName(const QString& name)
{
    return QDate::fromString(name, QStringLiteral("yyyy-MM-dd")).isValid();
}
} // namespace

ShotStore::ShotStore(StateStore& state, Sequencer& sequencer, QString shotsDirectory, QObject* parent)
    : QObject(parent), state(state), sequencer(sequencer), directory(std::move(shotsDirectory))
{
    worker.setMaxThreadCount(1);
    // A lost or stale seq.json must not hand out a number that today's shots already carry.
    const QDateTime now = Clock::instance().now();
    const QString today = Sequencer::dayKey(now);
    qint64 highest = 0;
    for (const Shot& s : shots())
        if (Sequencer::dayKey(s.ts) == today)
            highest = std::max(highest, s.n);
    // Nor one that a file of today carries whose record a crash kept from being written.
    for (const QString& name : QDir(dayFolder(now)).entryList(QDir::Files))
        if (const auto parsed = parseShotFileName(name))
            highest = std::max(highest, parsed->n);
    sequencer.raiseTo(now, highest);
    failInterruptedUploads(now);
}

// An upload still "uploading" in the file was cut off by the end of the program that ran it: nothing will
// finish it, and a re-upload only picks up a failed one.
void ShotStore::failInterruptedUploads(const QDateTime& now)
{
    const auto interrupted = [](const Upload& u) { return u.state == Upload::State::uploading; };
    int count = 0;
    for (const Shot& s : shots())
        count += int(std::count_if(s.uploads.begin(), s.uploads.end(), interrupted));
    if (count == 0)
        return;
    state.update([&](StateFile& f) {
        for (Shot& s : f.shots)
            for (Upload& u : s.uploads)
                if (interrupted(u))
                    u = Upload{Upload::State::failed, std::nullopt, interruptedText, now};
    });
    Log::write(QStringLiteral("上传：%1 个上传在上次退出时被打断，记为失败").arg(count));
}

std::optional<Shot> ShotStore::shot(const QString& name) const
{
    if (const auto index = indexOf(name))
        return shots()[*index];
    return std::nullopt;
}

void ShotStore::setSelected(const std::optional<QString>& name)
{
    if (name == selected())
        return;
    state.update([&](StateFile& f) { f.selectedShot = name; });
    Q_EMIT changed();
}

void ShotStore::setPaused(bool paused)
{
    if (paused == isPaused)
        return;
    isPaused = paused;
    Q_EMIT changed();
}

bool ShotStore::DayCounts::covers(const QDateTime& time) const
{
    const qint64 at = time.toMSecsSinceEpoch();
    return at >= from && at < to;
}

// The day's bounds are taken once: the local time of each shot (a time zone lookup apiece) is never needed.
const ShotStore::DayCounts& ShotStore::countsFor(const QDateTime& now) const
{
    if (counted.covers(now))
        return counted;
    const QDate day = now.toLocalTime().date();
    counted = DayCounts{day.startOfDay().toMSecsSinceEpoch(), day.addDays(1).startOfDay().toMSecsSinceEpoch(), 0, {}};
    for (const Shot& s : shots())
        tally(s, 1);
    return counted;
}

void ShotStore::tally(const Shot& shot, int sign) const
{
    if (!counted.covers(shot.ts))
        return;
    counted.shots += sign;
    for (auto it = shot.uploads.cbegin(); it != shot.uploads.cend(); ++it)
        if (it->state == Upload::State::done)
            counted.done[it.key()] += sign;
}

int ShotStore::todayCount(const QDateTime& now) const { return countsFor(now).shots; }

int ShotStore::doneCount(const QUuid& serverId, const QDateTime& now) const
{
    return countsFor(now).done.value(Json::uuidText(serverId));
}

ShotStore::Result ShotStore::refuse(Refusal refusal, const QString& reason, const QString& flash)
{
    Result r;
    r.outcome = Outcome::refused;
    r.refusal = refusal;
    r.logText = QStringLiteral("截图：被拒（%1）").arg(reason);
    r.flashText = flash;
    return r;
}

std::optional<ShotStore::Result> ShotStore::refusedOnArrival(const Settings& settings, bool hasEnabledServer) const
{
    if (isPaused)
        return refuse(Refusal::paused, QStringLiteral("已暂停"));
    if (!hasEnabledServer && !settings.saveWhenNoServer)
        return refuse(Refusal::noDestination, QStringLiteral("没有开着的服务器，也没选没连服务器时存本机"));
    return std::nullopt;
}

std::optional<ShotStore::Result> ShotStore::refusedInTurn(const Settings& settings, const QDateTime& now) const
{
    if (lastAccepted && lastAccepted->msecsTo(now) >= 0 && lastAccepted->msecsTo(now) < 1000)
        return refuse(Refusal::tooSoon, QStringLiteral("离上一张不到 1 秒"));
    const qint64 issued = sequencer.peek(now);
    if (issued >= settings.dailyLimit) {
        const QString text = QStringLiteral("今天已经 %1 张了（每天最多 %2 张），没存").arg(issued).arg(settings.dailyLimit);
        return refuse(Refusal::dailyLimit, text, text);
    }
    return std::nullopt;
}

ShotStore::Result ShotStore::handle(const QImage& image, const Settings& settings, bool hasEnabledServer,
                                    const QDateTime& now)
{
    if (auto refused = refusedOnArrival(settings, hasEnabledServer))
        return *refused;
    if (auto refused = refusedInTurn(settings, now))
        return *refused;
    return keep(normalise(image, settings.maxLongSide, settings.maxShotBytes, {}), settings, now);
}

void ShotStore::take(const ClipboardImage& image, const Settings& settings, bool hasEnabledServer, const QDateTime& now,
                     std::function<void(const Result&)> done)
{
    Pending next{now, settings, refusedOnArrival(settings, hasEnabledServer), {}, std::move(done)};
    // With nothing ahead of it, the rules that depend on earlier images can be applied now, saving the work.
    if (!next.refused && pending.empty())
        next.refused = refusedInTurn(settings, now);
    if (next.refused && pending.empty()) {
        next.done(*next.refused);
        return;
    }
    if (!next.refused) {
        next.work = QtConcurrent::run(&worker, [normalise = normalise, image, settings, root = directory,
                                                day = dayFolder(now), stamp = now.toLocalTime()] {
            const ::Outcome<QImage> pixels = image.decode();
            if (!pixels.ok() || pixels.value().isNull())
                return Prepared{std::nullopt, std::nullopt,
                                pixels.ok() ? ClipboardImage::unreadableText({}) : pixels.failure()};
            Prepared prepared{normalise(pixels.value(), settings.maxLongSide, settings.maxShotBytes, image.pngFile()),
                              std::nullopt, {}};
            if (prepared.image && Paths::ensure(root) && Paths::ensure(day)) {
                // Named like a shot numbered 0, which none is: the start-up round removes it after a crash.
                const QString near = QStringLiteral("%1/%2-0.%3")
                                         .arg(day, stamp.toString(QStringLiteral("yyyyMMdd-HHmmss")),
                                              prepared.image->format);
                // Synced on the state writer, before the record that points at it.
                if (const auto staged = AtomicFile::stage(near, prepared.image->bytes, 0600, true); staged.ok())
                    prepared.staged = staged.value();
            }
            return prepared;
        });
    }
    // In the queue before the continuation is attached: work already done runs it at once, here.
    QFuture<Prepared> work = next.work;
    pending.push_back(std::move(next));
    if (work.isValid())
        work.then(this, [this](const Prepared&) { finishReady(); });
}

// Settles, in order, every image at the front whose work is done.
void ShotStore::finishReady()
{
    while (!pending.empty() && (pending.front().refused || pending.front().work.isFinished())) {
        Pending front = std::move(pending.front());
        pending.pop_front();
        std::optional<Result> result = front.refused;
        if (!result)
            result = refusedInTurn(front.settings, front.now);
        if (!result && !front.work.result().unreadable.isEmpty()) {
            const QString why = front.work.result().unreadable;
            result = refuse(Refusal::unreadable, why, why);
            result->logText = QStringLiteral("截图：") + why;
        } else if (!result) {
            const Prepared prepared = front.work.result();
            result = keep(prepared.image, front.settings, front.now, prepared.staged);
        } else if (front.work.isValid() && front.work.result().staged) {
            QFile::remove(*front.work.result().staged);
        }
        front.done(*result);
    }
}

void ShotStore::finishPending()
{
    worker.waitForDone();
    finishReady();
}

ShotStore::~ShotStore() { worker.waitForDone(); }

ShotStore::Result ShotStore::keep(const std::optional<NormalisedImage>& normalised, const Settings& settings,
                                  const QDateTime& now, std::optional<QString> staged)
{
    // A staged file nobody took goes at once.
    const auto unused = qScopeGuard([&] {
        if (staged)
            QFile::remove(*staged);
    });
    if (!normalised) {
        const QString text = QStringLiteral("截图太大：压缩后还超过 %1 MB，没存").arg(megabytes(settings.maxShotBytes));
        return refuse(Refusal::tooLarge, text, text);
    }
    if (state.state().lastHash == normalised->md5) {
        Result r;
        r.outcome = Outcome::duplicate;
        r.logText = QStringLiteral("截图：和上一张一样，跳过");
        return r;
    }
    if (auto updated = updateInPlace(*normalised, now, staged))
        return *updated;
    return storeNew(*normalised, now, staged);
}

QString ShotStore::dayFolder(const QDateTime& now) const
{
    return directory + QLatin1Char('/') + now.toLocalTime().toString(QStringLiteral("yyyy-MM-dd"));
}

::Outcome<> ShotStore::place(const QString& path, const NormalisedImage& image, std::optional<QString>& staged)
{
    if (!staged)
        return AtomicFile::write(path, image.bytes, 0600);
    // The content and the rename are made durable on the state writer, before the record that points at them.
    const QString from = *std::exchange(staged, std::nullopt);
    const ::Outcome<> moved = AtomicFile::commit(from, path, true);
    if (moved.ok())
        state.beforeNextWrite([path, folder = QFileInfo(path).absolutePath()] {
            AtomicFile::syncFile(path);
            AtomicFile::syncFolder(folder);
        });
    return moved;
}

std::optional<ShotStore::Result> ShotStore::updateInPlace(const NormalisedImage& image, const QDateTime& now,
                                                          std::optional<QString>& staged)
{
    if (shots().isEmpty())
        return std::nullopt;
    const Shot& last = shots().last();
    const qint64 age = last.ts.secsTo(now);
    const bool sameFormat = QFileInfo(last.name).suffix() == image.format;
    if (last.w != image.width || last.h != image.height || age < 0 || age > 120 || !sameFormat ||
        !ImageStore::similar(last.fingerprint, image.fingerprint) || !QFileInfo::exists(last.localPath))
        return std::nullopt;
    if (const ::Outcome<> written = place(last.localPath, image, staged); !written.ok()) {
        Log::write(QStringLiteral("截图%1 没更新上（%2）").arg(last.n).arg(written.failure()));
        return std::nullopt;
    }
    const QString name = last.name;
    fileBytes.insert(name, image.bytes.size());
    int times = 0;
    qint64 n = last.n;
    state.update([&](StateFile& f) {
        Shot& s = f.shots.last();
        tally(s, -1);
        s.hash = image.md5;
        s.fingerprint = image.fingerprint;
        times = ++s.updated;
        for (Upload& u : s.uploads)
            u = Upload{};
        tally(s, 1);
        f.lastHash = image.md5;
    });
    lastAccepted = now;
    Q_EMIT changed();
    Result r;
    r.outcome = Outcome::updated;
    r.shotName = name;
    r.logText = QStringLiteral("截图%1 已更新（第 %2 次）").arg(n).arg(times);
    return r;
}

ShotStore::Result ShotStore::storeNew(const NormalisedImage& image, const QDateTime& now,
                                    std::optional<QString>& staged)
{
    const qint64 n = sequencer.next(now);
    const QDateTime local = now.toLocalTime();
    const QString dayDir = dayFolder(now);
    const QString name = QStringLiteral("%1-%2.%3")
                             .arg(local.toString(QStringLiteral("yyyyMMdd-HHmmss")))
                             .arg(n)
                             .arg(image.format);
    const QString path = dayDir + QLatin1Char('/') + name;
    Paths::ensure(directory);
    Paths::ensure(dayDir);
    if (const ::Outcome<> written = place(path, image, staged); !written.ok())
        return refuse(Refusal::writeFailed, QStringLiteral("文件写不进去：%1").arg(written.failure()));

    Shot shot;
    shot.n = n;
    shot.ts = QDateTime::fromSecsSinceEpoch(now.toSecsSinceEpoch(), Qt::UTC);
    shot.w = image.width;
    shot.h = image.height;
    shot.localPath = path;
    shot.name = name;
    shot.hash = image.md5;
    shot.fingerprint = image.fingerprint;
    state.update([&](StateFile& f) {
        f.shots.append(shot);
        f.lastHash = image.md5;
    });
    fileBytes.insert(name, image.bytes.size());
    tally(shot, 1);
    ++listed;
    lastAccepted = now;
    Q_EMIT changed();
    Result r;
    r.outcome = Outcome::stored;
    r.shotName = name;
    r.logText = QStringLiteral("截图%1 已存（%2×%3，%4，%5）")
                    .arg(n)
                    .arg(image.width)
                    .arg(image.height)
                    .arg(image.format.toUpper() == QLatin1String("JPG") ? QStringLiteral("JPEG")
                                                                          : image.format.toUpper())
                    .arg(sizeText(image.bytes.size()));
    return r;
}

void ShotStore::setUpload(const QString& name, const QUuid& serverId, const Upload& upload)
{
    const auto index = indexOf(name);
    if (!index)
        return;
    state.updateSoon([&](StateFile& f) {
        Shot& s = f.shots[*index];
        tally(s, -1);
        s.uploads.insert(Json::uuidText(serverId), upload);
        tally(s, 1);
    });
    Q_EMIT changed();
}

void ShotStore::markPasted(const QString& name)
{
    if (const auto index = indexOf(name))
        state.updateSoon([&](StateFile& f) { ++f.shots[*index].pasted; });
    Q_EMIT changed();
}

// Newest first: marks and pastes almost always concern recent shots.
std::optional<qsizetype> ShotStore::indexOf(const QString& name) const
{
    for (qsizetype i = shots().size() - 1; i >= 0; --i)
        if (shots()[i].name == name)
            return i;
    return std::nullopt;
}

bool ShotStore::remove(const QString& name)
{
    if (!shot(name))
        return false;
    forget({name});
    return true;
}

QStringList ShotStore::removeAll()
{
    QStringList names;
    for (const Shot& s : shots())
        names << s.name;
    if (!names.isEmpty())
        forget(names);
    return names;
}

// Whether the files of `paths` lie in the shot folder or below it, with links and ".." resolved; a day
// folder is resolved once however many shots it holds.
QList<bool> ShotStore::areInside(const QStringList& paths) const
{
    const QString root = QFileInfo(directory).canonicalFilePath();
    QHash<QString, bool> folders;
    QList<bool> inside;
    inside.reserve(paths.size());
    for (const QString& path : paths) {
        const QString parent = QFileInfo(path).absolutePath();
        auto known = folders.constFind(parent);
        if (known == folders.constEnd()) {
            const QString folder = QFileInfo(parent).canonicalFilePath();
            known = folders.insert(parent, !folder.isEmpty() && !root.isEmpty() &&
                                               (folder == root || folder.startsWith(root + QLatin1Char('/'))));
        }
        inside.append(*known);
    }
    return inside;
}

void ShotStore::forget(const QStringList& names)
{
    const QSet<QString> doomed(names.begin(), names.end());
    QStringList files;
    state.update([&](StateFile& f) {
        files.clear();
        f.shots.removeIf([&](const Shot& s) {
            if (!doomed.contains(s.name))
                return false;
            files << s.localPath;
            tally(s, -1);
            // The same image may be taken again once its shot is gone.
            if (f.lastHash == s.hash)
                f.lastHash.reset();
            if (f.selectedShot == s.name)
                f.selectedShot.reset();
            return true;
        });
    });
    // A record's path comes from the state file: a file elsewhere is never ours to delete.
    const QList<bool> inside = areInside(files);
    QStringList ours;
    for (qsizetype i = 0; i < files.size(); ++i)
        if (inside[i])
            ours << files[i];
    for (const QString& name : names)
        fileBytes.remove(name);
    ++listed;
    // The files go once the records are gone on disk, so no record ever points at a missing file.
    state.afterWritten([ours, root = QFileInfo(directory).absoluteFilePath()] {
        QSet<QString> dayDirs;
        for (const QString& file : ours) {
            QFile::remove(file);
            dayDirs.insert(QFileInfo(file).absolutePath());
        }
        for (const QString& dir : dayDirs)
            if (QFileInfo(dir).absolutePath() == root &&
                QDir(dir).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
                QDir().rmdir(dir);
    });
    Q_EMIT changed();
}

qint64 ShotStore::bytesOf(const Shot& shot)
{
    auto known = fileBytes.constFind(shot.name);
    if (known == fileBytes.cend())
        known = fileBytes.insert(shot.name, QFileInfo(shot.localPath).size());
    return *known;
}

QStringList ShotStore::purgeLocal(const Settings& settings, const QDateTime& now)
{
    const qint64 cutoff = now.addSecs(-qint64(settings.keepHours) * 3600).toMSecsSinceEpoch();
    const QList<Shot>& list = shots();
    QStringList gone;
    std::vector<bool> going(size_t(list.size()), false);
    std::vector<qint64> bytes(size_t(list.size()), 0);
    qint64 total = unlistedBytes;
    for (qsizetype i = 0; i < list.size(); ++i) {
        if (list[i].ts.toMSecsSinceEpoch() < cutoff) {
            gone << list[i].name;
            going[size_t(i)] = true;
        }
        bytes[size_t(i)] = bytesOf(list[i]);
        total += bytes[size_t(i)];
    }
    // Then the oldest go while the folder is over its size limit.
    for (qsizetype i = 0; i < list.size() && total > settings.maxDirBytes; ++i) {
        if (!going[size_t(i)]) {
            gone << list[i].name;
            going[size_t(i)] = true;
        }
        total -= bytes[size_t(i)];
    }
    if (!gone.isEmpty()) {
        forget(gone);
        Log::write(QStringLiteral("截图：本机清理了 %1 张旧图").arg(gone.size()));
    }
    return gone;
}

QStringList ShotStore::maintain(const Settings& settings, const QDateTime& now, Round round)
{
    applyScan(scanFolder(directory, shots(), now.addSecs(-qint64(settings.keepHours) * 3600), removesUnrecorded(round)));
    return purgeLocal(settings, now);
}

void ShotStore::maintainSoon(const Settings& settings, const QDateTime& now, Round round,
                             std::function<void(const QStringList&)> done)
{
    // On the image worker, so no image is staged while the walk runs.
    QtConcurrent::run(&worker, &ShotStore::scanFolder, directory, shots(),
                      now.addSecs(-qint64(settings.keepHours) * 3600), removesUnrecorded(round))
        .then(this, [this, settings, now, done = std::move(done)](const FolderScan& scan) {
            applyScan(scan);
            const QStringList gone = purgeLocal(settings, now);
            if (done)
                done(gone);
        });
}

// Only over a state read from its file: after a state file was set aside, every image would look unrecorded.
bool ShotStore::removesUnrecorded(Round round) const { return round == Round::atStart && state.readFromFile(); }

void ShotStore::applyScan(const FolderScan& scan)
{
    // Shots stored while the walk ran come last, and keep the sizes they were stored with.
    QHash<QString, qint64> sizes = scan.bytesByName;
    for (qsizetype i = shots().size() - 1; i >= 0 && !scan.bytesByName.contains(shots()[i].name); --i)
        sizes.insert(shots()[i].name, fileBytes.value(shots()[i].name));
    fileBytes.swap(sizes);
    unlistedBytes = scan.unlistedBytes;
    for (const QString& path : scan.unreadable)
        Log::write(QStringLiteral("截图：启动时发现没有记录的图片 %1，读不出来，留在原处").arg(path));
    takeBack(scan.found);
}

// Each goes in among the shots by its time, so retention still takes the oldest first.
void ShotStore::takeBack(const QList<Shot>& found)
{
    QList<Shot> missing;
    for (const Shot& s : found)
        if (!indexOf(s.name))
            missing << s;
    if (missing.isEmpty())
        return;
    state.update([&](StateFile& f) {
        for (const Shot& s : missing) {
            const auto later = std::find_if(f.shots.begin(), f.shots.end(), [&](const Shot& o) { return o.ts > s.ts; });
            f.shots.insert(later, s);
        }
    });
    const QDateTime now = Clock::instance().now();
    for (const Shot& s : missing) {
        fileBytes.insert(s.name, QFileInfo(s.localPath).size());
        tally(s, 1);
        if (Sequencer::dayKey(s.ts) == Sequencer::dayKey(now))
            sequencer.raiseTo(now, s.n);
        Log::write(QStringLiteral("截图%1 找回了：上次退出前图片已存好，记录还没写下（%2）").arg(s.n).arg(s.name));
    }
    ++listed;
    Q_EMIT changed();
    if (onTakenBack) {
        QStringList names;
        for (const Shot& s : missing)
            names << s.name;
        onTakenBack(names);
    }
}

ShotStore::FolderScan ShotStore::scanFolder(const QString& directory, const QList<Shot>& listed,
                                            const QDateTime& cutoff, bool removeUnrecorded)
{
    QHash<QString, QString> nameByPath;
    for (const Shot& s : listed)
        nameByPath.insert(QFileInfo(s.localPath).absoluteFilePath(), s.name);
    FolderScan scan;
    const QDir root(directory);
    const auto entries = QDir::Files | QDir::Hidden | QDir::System;
    for (const QFileInfo& entry : root.entryInfoList(entries | QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (!entry.isDir() || entry.isSymLink() || !isDayFolderName(entry.fileName())) {
            // Not ours to clean: counted only.
            scan.unlistedBytes += bytesUnder(entry);
            continue;
        }
        QDir day(entry.absoluteFilePath());
        for (const QFileInfo& file : day.entryInfoList(entries | QDir::Dirs | QDir::NoDotAndDotDot)) {
            if (file.isDir()) {
                scan.unlistedBytes += bytesUnder(file);
                continue;
            }
            const auto name = nameByPath.constFind(file.absoluteFilePath());
            if (name != nameByPath.cend()) {
                scan.bytesByName.insert(*name, file.size());
                continue;
            }
            if (removeUnrecorded && parseShotFileName(file.fileName())) {
                // A finished shot whose record a crash kept from being written: taken back, never dropped.
                if (auto shot = shotFromFile(file)) {
                    scan.found << *shot;
                    scan.bytesByName.insert(shot->name, file.size());
                } else {
                    scan.unreadable << file.absoluteFilePath();
                    scan.unlistedBytes += file.size();
                }
                continue;
            }
            const bool due = file.lastModified() < cutoff || (removeUnrecorded && isShotFileName(file.fileName()));
            if (!(due && QFile::remove(file.absoluteFilePath())))
                scan.unlistedBytes += file.size();
        }
        if (day.isEmpty(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot))
            root.rmdir(entry.fileName());
    }
    // Listed files elsewhere (or missing: nought).
    for (const Shot& s : listed)
        if (!scan.bytesByName.contains(s.name))
            scan.bytesByName.insert(s.name, QFileInfo(s.localPath).size());
    return scan;
}
