#include "ui/panel/ShotCardModel.h"

#include "delivery/ReceiverClient.h"
#include "delivery/Uploader.h"
#include "ui/panel/PanelModel.h"
#include "ui/shell/FlashOverlay.h"

ShotCardModel::ShotCardModel(const Shot& shot, const QList<Server>& servers, const std::optional<QUuid>& defaultServerID,
                             bool selected, bool latest)
    : shot(shot), servers(servers), defaultServerID(defaultServerID), selected(selected), latest(latest)
{
}

QString ShotCardModel::displayPath() const
{
    const Server* target = nullptr;
    for (const Server& server : servers) {
        if (!Uploader::isActive(server))
            continue;
        if (!target)
            target = &server;
        if (defaultServerID && server.id == *defaultServerID) {
            target = &server;
            break;
        }
    }
    if (!target)
        return shot.localPath;
    return ReceiverClient::remotePath(*target, shot.name).value_or(shot.localPath);
}

QString ShotCardModel::numberText() const { return QStringLiteral("截图%1: ").arg(shot.n); }

QString ShotCardModel::timeText() const { return FlashOverlay::time(shot.ts); }

QString ShotCardModel::sizeText() const { return QStringLiteral("%1×%2").arg(shot.w).arg(shot.h); }

UploadMark ShotCardModel::mark(const Server& server, const std::optional<Upload>& upload)
{
    const auto look = [&](const QString& symbol, const QString& role) {
        const bool withError = upload && upload->error && !upload->error->isEmpty();
        return UploadMark{server.name + QLatin1Char(' ') + symbol, role, withError ? *upload->error : server.name};
    };
    if (!upload)
        return server.enabled ? look(QStringLiteral("－"), QStringLiteral("secondary"))
                              : look(QStringLiteral("关"), QStringLiteral("secondary"));
    switch (upload->state) {
    case Upload::State::pending:
    case Upload::State::uploading: return look(QStringLiteral("⏳"), QStringLiteral("orange"));
    case Upload::State::done: return look(QStringLiteral("✅"), QStringLiteral("green"));
    case Upload::State::failed: return look(QStringLiteral("❌"), QStringLiteral("red"));
    case Upload::State::skipped: return look(QStringLiteral("关"), QStringLiteral("secondary"));
    }
    return look(QStringLiteral("－"), QStringLiteral("secondary"));
}

QList<UploadMark> ShotCardModel::marks() const
{
    QList<UploadMark> out;
    for (const Server& server : servers)
        if (server.setup.keyInstalled)
            out << mark(server, shot.upload(server.id));
    return out;
}

std::optional<QString> ShotCardModel::pastedText() const
{
    if (shot.pasted <= 0)
        return std::nullopt;
    return QStringLiteral("📝 粘过 %1 次").arg(shot.pasted);
}

std::optional<QString> ShotCardModel::updatedText() const
{
    if (shot.updated < 1)
        return std::nullopt;
    return QStringLiteral("🔁 更新 %1 次").arg(shot.updated);
}

QString ShotCardModel::statusSummary() const
{
    QStringList lines;
    for (const Server& server : servers) {
        if (!server.setup.keyInstalled)
            continue;
        const auto upload = shot.upload(server.id);
        const UploadMark m = mark(server, upload);
        const bool reason = upload && upload->error && !upload->error->isEmpty();
        lines << (reason ? m.text + QStringLiteral("：") + *upload->error : m.text);
    }
    for (const auto& count : {pastedText(), updatedText()})
        if (count)
            lines << *count;
    return lines.join(QLatin1Char('\n'));
}

std::optional<BadgeLook> ShotCardModel::badge() const
{
    if (selected)
        return BadgeLook{QStringLiteral("✔ 下次粘这张"), QStringLiteral("accent")};
    if (latest)
        return BadgeLook{QStringLiteral("最新"), QStringLiteral("green")};
    return std::nullopt;
}

QString ShotCardModel::selectLabel() const
{
    return selected ? QStringLiteral("✔ 取消选中") : QStringLiteral("✔ 下次粘这张");
}

QString ShotCardModel::thumbnailTooltip() const
{
    // Names the default hot key whatever is configured.
    return QStringLiteral("点击：") +
           (selected ? QStringLiteral("取消选中") : QStringLiteral("下次 %1 粘这张").arg(PanelModel::defaultPasteHotkey()));
}
