#pragma once

#include <QString>
#include <Qt>

#include <optional>

// A global hot key as the user writes it ("⌥⌘3"): modifier symbols, then one of 48 key names.
// ⌃ is Control, ⌥ Alt, ⇧ Shift, ⌘ Super.
struct HotkeySpec {
    // The stored modifier mask.
    static constexpr quint32 command = 256;
    static constexpr quint32 shift = 512;
    static constexpr quint32 option = 2048;
    static constexpr quint32 control = 4096;

    quint32 modifiers = 0;
    quint32 keyCode = 0; // the X keysym of the key (lower case for letters)
    QString display;     // the symbols in the order typed, then the key name in upper case

    // None when the key name is unknown or none of ⌃ ⌥ ⌘ is present (⇧ alone is not enough).
    static std::optional<HotkeySpec> parse(const QString& text);
    // The hot key parsed from `text`, else from `fallback` (which must parse: "⌥⌘3", "⌥⌘4").
    static HotkeySpec parseOr(const QString& text, const QString& fallback);

    // The key as every text shows it to the user, in the desktop's notation: "Alt+Super+3" for ⌥⌘3 (order as
    // typed, a repeated symbol once).
    QString desktopText() const;

    // The text of a key press (Qt's modifiers, Meta being Super on X11, and the key's X keysym): held modifiers
    // in the order ⌃ ⌥ ⇧ ⌘, then the key's name; none when the key has no name or the text would not parse.
    // The recorder passes the keysym of the key's first level (a digit, not the symbol Shift gives it).
    static std::optional<QString> from(Qt::KeyboardModifiers held, quint32 keysym);

    bool operator==(const HotkeySpec&) const = default;
};
