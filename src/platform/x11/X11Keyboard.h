#pragma once

#include "platform/Keyboard.h"

#include <QTimer>

#include <chrono>
#include <vector>

// Key presses through the XTest extension. Characters the current layout has are typed on their own keys
// (with Shift where needed); the others are put for a while on spare keycodes, a batch at a time, the
// batches taking turns between two halves of the spare keys. Programs read a changed mapping whenever they
// get round to it; leaving each batch's keys alone for a while, and giving them back only well after the
// typing, means a slow program still reads the symbols that were meant.
class X11Keyboard final : public Keyboard {
public:
    // reuseMs: how long after a batch its keys may take new symbols (the other half's batch goes meanwhile).
    explicit X11Keyboard(int reuseMs = 60);
    ~X11Keyboard() override;

    bool keysHeld() override;
    Result type(const QString& text) override;
    Result sendPasteKey() override;

    static constexpr int restoreDelayMs = 500;

private:
    void lend(const std::vector<unsigned char>& keys);
    void giveBack();

    int reuseMs;
    std::vector<unsigned char> lent; // keycodes still holding borrowed symbols
    std::chrono::steady_clock::time_point lentUse;
    QTimer restoreTimer;
};
