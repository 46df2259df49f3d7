#pragma once

#include "platform/Keyboard.h"

#include <QString>
#include <QTimer>

#include <array>
#include <chrono>
#include <deque>
#include <map>
#include <optional>
#include <vector>

typedef struct _XDisplay Display;

// Key presses through the XTest extension. Lock and latched modifiers (Caps Lock, Num Lock, a latched Shift)
// are off while a batch goes out and back afterwards, so they never change what is typed. Characters the current layout has are typed on their own keys
// (with Shift where needed); the others are put for a while on spare keycodes, a batch at a time, the
// batches taking turns between two halves of the spare keys. Programs read a changed mapping whenever they
// get round to it; leaving each batch's keys alone for a while, and giving them back only well after the
// typing, means a slow program still reads the symbols that were meant. The waits between batches are
// timers: the event loop runs on meanwhile. Main thread only.
class X11Keyboard final : public Keyboard {
public:
    // reuseMs: how long after a batch its keys may take new symbols (the other half's batch goes meanwhile).
    // restoreDelayMs: how long after the typing borrowed keys go back to having no symbol.
    explicit X11Keyboard(int reuseMs = 150, int restoreDelayMs = 1500);
    ~X11Keyboard() override;

    bool keysHeld() override;
    void type(const QString& text, Done done) override;
    void sendPasteKey(PasteKey key, Done done) override;

    struct Stroke {
        unsigned char code = 0;
        bool shift = false;
    };
    struct Chord {
        std::vector<unsigned char> modifiers; // pressed in this order, let go in the reverse
        unsigned char key = 0;
    };
    // Key presses sent together after their keys got the symbols they need.
    struct Batch {
        std::map<unsigned char, std::array<unsigned long, 2>> remap; // keycode -> its two levels
        std::vector<Stroke> strokes;
        std::optional<Chord> chord;
        int half = 0;
        bool borrows = false;
    };

private:
    struct Job {
        std::optional<PasteKey> pasteKey;
        QString text;
        Done done;
    };

    void enqueue(Job job);
    void startNext();
    std::optional<Result> plan(const Job& job);
    void step();
    void send(Display* display, const Batch& batch);
    void finish();
    void lend(const std::vector<unsigned char>& keys);
    void giveBack();

    int reuseMs;
    std::vector<unsigned char> lent; // keycodes still holding borrowed symbols
    std::chrono::steady_clock::time_point lastUse[2];
    QTimer restoreTimer;
    QTimer stepTimer;

    std::deque<Job> jobs; // asked for while another was being typed
    bool typing = false;
    Done done;
    std::vector<Batch> batches;
    size_t next = 0;
    unsigned char shift = 0;
    std::vector<unsigned char> borrowing;
    bool serverFailed = false;
};
