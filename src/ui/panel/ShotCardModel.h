#pragma once

#include "state/Server.h"
#include "state/Shot.h"

#include <QList>
#include <QString>
#include <optional>

// One destination's mark on a shot card: "name ✅" in a colour, with a tooltip.
struct UploadMark {
    QString text;
    QString role;
    QString tooltip;
    bool operator==(const UploadMark&) const = default;
};

struct BadgeLook {
    QString text;
    QString role;
    bool operator==(const BadgeLook&) const = default;
};

// Texts and choices of one shot card: pure functions of the shot, the destinations and the choice for the
// next paste, tested without a display.
class ShotCardModel {
public:
    ShotCardModel(const Shot& shot, const QList<Server>& servers, const std::optional<QUuid>& defaultServerID,
                  bool selected, bool latest);

    // The path a paste of this shot would use: on the default ready destination, else the first ready one;
    // the local path when there is none or it has no remote folder yet.
    QString displayPath() const;
    QString numberText() const; // "截图7: "
    QString timeText() const;
    QString sizeText() const;
    // One mark per destination with the key installed, in list order, switched on or not.
    QList<UploadMark> marks() const;
    std::optional<QString> pastedText() const;
    std::optional<QString> updatedText() const;
    // Every mark and count, one a line, a failure with its reason: the tooltip of what a short line leaves out.
    QString statusSummary() const;
    std::optional<BadgeLook> badge() const;
    QString selectLabel() const;
    QString thumbnailTooltip() const;

    static UploadMark mark(const Server& server, const std::optional<Upload>& upload);

private:
    const Shot& shot;
    const QList<Server>& servers;
    std::optional<QUuid> defaultServerID;
    bool selected;
    bool latest;
};
