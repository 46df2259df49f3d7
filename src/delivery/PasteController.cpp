#include "delivery/PasteController.h"

#include "platform/Flash.h"
#include "capture/ShotStore.h"
#include "platform/ActiveWindow.h"
#include "platform/Keyboard.h"
#include "state/Log.h"

#include <QImage>
#include <QPointer>
#include <QRegularExpression>

namespace {
constexpr int keyPollMs = 15;

bool isReady(const Server& server) { return server.enabled && server.setup.keyInstalled; }

// The server whose keyword the title holds: the longest keyword found wins; on a tie the earlier server.
const Server* namedIn(const QString& title, const QList<Server>& servers)
{
    const Server* best = nullptr;
    qsizetype bestLength = 0;
    for (const Server& server : servers)
        for (const QString& keyword : server.matchKeywords) {
            const QString trimmed = keyword.trimmed();
            if (trimmed.size() > bestLength && title.contains(trimmed, Qt::CaseInsensitive)) {
                best = &server;
                bestLength = trimmed.size();
            }
        }
    return best;
}
}

PasteController::PasteController(ShotStore& shots, ActiveWindow& activeWindow, Keyboard& keyboard, Flash& flash,
                                 QObject* parent)
    : QObject(parent), shots(shots), activeWindow(activeWindow), keyboard(keyboard), flash(flash)
{
    uploadTimer.setSingleShot(true);
    uploadTimer.setInterval(uploadWaitMs);
    connect(&uploadTimer, &QTimer::timeout, this, [this] {
        paste.stillUploading = true;
        waitForKeyRelease();
    });
    keyTimer.setInterval(keyPollMs);
    connect(&keyTimer, &QTimer::timeout, this, [this] {
        keyWaitedMs += keyPollMs;
        if (!this->keyboard.keysHeld() || keyWaitedMs >= keyWaitLimitMs) {
            keyTimer.stop();
            deliver();
        }
    });
}

void PasteController::setWaits(int uploadMs, int keyReleaseMs)
{
    uploadTimer.setInterval(uploadMs);
    keyWaitLimitMs = keyReleaseMs;
}

void PasteController::hotkeyPressed()
{
    if (running)
        return;
    running = true;
    ++generation;
    paste = {};
    paste.settings = settings();

    const auto window = activeWindow.frontmost();
    if (!window || !isTerminal(window->instanceName, window->className, paste.settings.terminalBundleIDs)) {
        flash.show({}, QStringLiteral("前台不是终端，没粘（在设置里加终端）"));
        return finish();
    }
    paste.window = window->id;
    paste.pasteKey = pasteKeyFor(window->instanceName, window->className);

    const auto selected = shots.selected() ? shots.shot(*shots.selected()) : std::nullopt;
    if (selected)
        paste.shot = *selected;
    else if (!shots.shots().isEmpty())
        paste.shot = shots.shots().last();
    else {
        flash.show({}, QStringLiteral("还没有截图"));
        return finish();
    }

    const QList<Server> listed = servers();
    if (const auto unready = unreadyServerFor(window->title, listed)) {
        const QString why = unready->enabled ? QStringLiteral("它还没连好") : QStringLiteral("它的同步关着");
        flash.show({}, QStringLiteral("截图%1 没传到 %2，没粘：%3").arg(paste.shot.n).arg(unready->name, why));
        Log::write(QStringLiteral("截图%1 没粘：终端在 %2 上，%3").arg(paste.shot.n).arg(unready->name, why));
        return finish();
    }
    paste.destination = destinationFor(window->title, listed, paste.settings);
    waitForUpload();
}

void PasteController::waitForUpload()
{
    const auto& destination = paste.destination;
    const auto existing = destination ? paste.shot.upload(destination->id) : std::nullopt;
    if (!destination || (existing && existing->state == Upload::State::done))
        return waitForKeyRelease();
    uploadTimer.start();
    upload(paste.shot.name, *destination,
           [this, expected = generation](const Upload& outcome) { uploadDone(expected, outcome); });
}

void PasteController::uploadDone(quint64 expected, const Upload& outcome)
{
    // Only an answer to this paste, while it still waits, counts.
    if (expected != generation || !running || !uploadTimer.isActive())
        return;
    uploadTimer.stop();
    if (outcome.state != Upload::State::done) {
        QString line = QStringLiteral("截图%1 没传到 %2，没粘").arg(paste.shot.n).arg(paste.destination->name);
        if (outcome.error && !outcome.error->isEmpty())
            line += QStringLiteral("：") + *outcome.error;
        flash.show({}, line);
        return finish();
    }
    waitForKeyRelease();
}

// Keys typed while the hot key's ⌥⌘ are still down would turn into shortcuts: give the user a moment.
void PasteController::waitForKeyRelease()
{
    keyWaitedMs = 0;
    if (paste.settings.pasteMode == PasteMode::zeroPermission || !keyboard.keysHeld())
        return deliver();
    keyTimer.start();
}

void PasteController::deliver()
{
    const Settings& settings = paste.settings;
    const std::optional<QString> remote =
        paste.destination ? remotePath(*paste.destination, paste.shot.name) : std::nullopt;
    const QString text = token(settings.tokenFormat, paste.shot.n, remote.value_or(paste.shot.localPath));
    const QString stillUploading =
        paste.stillUploading ? QStringLiteral("截图%1 还在传…").arg(paste.shot.n) : QString();

    if (settings.pasteMode == PasteMode::zeroPermission) {
        copyText(text);
        flash.show({}, QStringLiteral("📋 已复制 截图%1 的路径，自己粘贴").arg(paste.shot.n), Flash::copyMs);
    } else {
        // The upload wait gives the user time to move on: never type into a window other than the one asked.
        const auto window = activeWindow.frontmost();
        if (!window || window->id != paste.window) {
            copyText(text);
            flash.show({}, QStringLiteral("窗口换了，路径已复制"));
            Log::write(QStringLiteral("截图%1 没粘：窗口换了，路径已复制").arg(paste.shot.n));
            return finish();
        }
        auto typed = [self = QPointer(this), text, stillUploading, expected = generation](const Keyboard::Result& result) {
            if (self && expected == self->generation && self->running)
                self->keysSent(result, text, stillUploading);
        };
        if (settings.pasteMode == PasteMode::clipboard) {
            copyText(text);
            keyboard.sendPasteKey(paste.pasteKey, typed);
        } else {
            keyboard.type(text, typed);
        }
        return;
    }
    pasted();
}

void PasteController::keysSent(const Keyboard::Result& result, const QString& text, const QString& stillUploading)
{
    const PasteMode mode = paste.settings.pasteMode;
    if (!result.ok) {
        if (mode == PasteMode::type)
            copyText(text);
        flash.show({}, mode == PasteMode::type ? result.message + QStringLiteral("，路径已复制") : result.message);
        Log::write(QStringLiteral("截图%1 没粘：%2").arg(paste.shot.n).arg(result.message));
        return finish();
    }
    if (!stillUploading.isEmpty())
        flash.show({}, stillUploading);
    pasted();
}

void PasteController::pasted()
{
    shots.markPasted(paste.shot.name);
    Log::write(QStringLiteral("截图%1 粘到 %2").arg(paste.shot.n).arg(label()));
    shots.setSelected(std::nullopt);
    finish();
}

void PasteController::finish()
{
    uploadTimer.stop();
    keyTimer.stop();
    running = false;
    Q_EMIT finished();
}

QString PasteController::label() const
{
    return paste.destination ? paste.destination->name : QStringLiteral("本机");
}

std::optional<Server> PasteController::unreadyServerFor(const QString& title, const QList<Server>& servers)
{
    const Server* named = namedIn(title, servers);
    if (!named || isReady(*named))
        return std::nullopt;
    return *named;
}

Keyboard::PasteKey PasteController::pasteKeyFor(const QString& instanceName, const QString& className)
{
    for (const char* kin : {"xterm", "uxterm", "urxvt", "rxvt"}) {
        const QString name = QString::fromLatin1(kin);
        if (name.compare(instanceName, Qt::CaseInsensitive) == 0 || name.compare(className, Qt::CaseInsensitive) == 0)
            return Keyboard::PasteKey::shiftInsert;
    }
    return Keyboard::PasteKey::controlShiftV;
}

std::optional<Server> PasteController::destinationFor(const QString& title, const QList<Server>& servers,
                                                      const Settings& settings)
{
    QList<Server> ready;
    for (const Server& server : servers)
        if (isReady(server))
            ready << server;

    if (const Server* named = namedIn(title, ready))
        return *named;

    for (const QString& pattern : settings.localTitlePatterns) {
        const QRegularExpression expression(pattern);
        if (!pattern.isEmpty() && expression.isValid() && expression.match(title).hasMatch())
            return std::nullopt;
    }

    if (settings.defaultServerID)
        for (const Server& server : ready)
            if (server.id == *settings.defaultServerID)
                return server;
    if (!ready.isEmpty())
        return ready.first();
    return std::nullopt;
}

QString PasteController::token(const QString& format, qint64 number, const QString& path)
{
    QString text;
    for (qsizetype i = 0; i < format.size(); ++i) {
        if (format.at(i) == QLatin1Char('%') && i + 1 < format.size()) {
            const QChar next = format.at(i + 1);
            if (next == QLatin1Char('d')) {
                text += QString::number(number);
                ++i;
                continue;
            }
            if (next == QLatin1Char('s')) {
                text += path;
                ++i;
                continue;
            }
        }
        text += format.at(i);
    }
    return text;
}

bool PasteController::isTerminal(const QString& instanceName, const QString& className, const QStringList& terminals)
{
    for (const QString& terminal : terminals) {
        const QString name = terminal.trimmed();
        if (name.isEmpty())
            continue;
        if (name.compare(instanceName, Qt::CaseInsensitive) == 0 || name.compare(className, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}
