#pragma once

#include "state/Outcome.h"

#include <QList>
#include <QPair>
#include <QStringList>
#include <optional>

struct Server;

// The AI-tool rule blocks: a three-line block in each tool's global rules file on the server, telling the
// assistant that `shotN: <path>` means "read that image first".
class RulesScript {
public:
    // Keys and labels, in display order.
    static const QList<QPair<QString, QString>>& toolNames();
    static bool isToolKey(const QString& key);

    // The shots directory as written into the rule text.
    static QString shotsDir(const Server& server);
    // The three lines of the block, joined by line feeds.
    static QString ruleText(const QString& shotsDir);

    // rules.sh with the wanted keys (validated, written in display order) and the block.
    static Outcome<QString> render(const QStringList& wanted, const QString& shotsDir,
        const std::optional<QString>& templateText);

    // The keys that now have a block, from "TARNEL_RULES_OK <k1,k2>"; none without that line.
    static std::optional<QStringList> parse(const QString& output);
};
