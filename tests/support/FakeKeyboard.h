#pragma once

#include "platform/Keyboard.h"

#include <QStringList>

// Records what would have been typed; `heldFor` presses report keys held, `failWith` makes typing fail.
class FakeKeyboard final : public Keyboard {
public:
    bool keysHeld() override
    {
        ++heldQueries;
        if (heldFor == 0)
            return false;
        if (heldFor > 0)
            --heldFor;
        return true;
    }

    Result type(const QString& text) override
    {
        if (!failWith.isEmpty())
            return {false, failWith};
        typed << text;
        return {};
    }

    Result sendPasteKey() override
    {
        if (!failWith.isEmpty())
            return {false, failWith};
        ++pasteKeys;
        return {};
    }

    int heldFor = 0; // number of queries that still answer "held"; negative: held for ever
    int heldQueries = 0;
    QString failWith;
    QStringList typed;
    int pasteKeys = 0;
};
