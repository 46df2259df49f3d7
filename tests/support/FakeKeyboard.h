#pragma once

#include "platform/Keyboard.h"

#include <QStringList>

// Records what would have been typed and answers at once; `heldFor` presses report keys held, `failWith`
// makes typing fail.
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

    void type(const QString& text, Done done) override
    {
        if (failWith.isEmpty())
            typed << text;
        done(answer());
    }

    void sendPasteKey(PasteKey key, Done done) override
    {
        if (failWith.isEmpty()) {
            ++pasteKeys;
            lastPasteKey = key;
        }
        done(answer());
    }

    int heldFor = 0; // number of queries that still answer "held"; negative: held for ever
    int heldQueries = 0;
    QString failWith;
    QStringList typed;
    int pasteKeys = 0;
    PasteKey lastPasteKey = PasteKey::controlShiftV;

private:
    Result answer() const { return failWith.isEmpty() ? Result{} : Result{false, failWith}; }
};
