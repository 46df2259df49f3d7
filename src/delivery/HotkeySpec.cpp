#include "delivery/HotkeySpec.h"

#include <QHash>
#include <QStringList>

#include <X11/keysym.h>

namespace {
const QChar controlSymbol(0x2303), optionSymbol(0x2325), shiftSymbol(0x21E7), commandSymbol(0x2318);

// "1"–"9", "0", "A"–"Z", "F1"–"F12" and their keysyms.
const QHash<QString, quint32>& keyNames()
{
    static const QHash<QString, quint32> names = [] {
        QHash<QString, quint32> table;
        for (char c = '0'; c <= '9'; ++c)
            table.insert(QString(QLatin1Char(c)), XK_0 + quint32(c - '0'));
        for (char c = 'A'; c <= 'Z'; ++c)
            table.insert(QString(QLatin1Char(c)), XK_a + quint32(c - 'A'));
        for (int n = 1; n <= 12; ++n)
            table.insert(QStringLiteral("F%1").arg(n), XK_F1 + quint32(n - 1));
        return table;
    }();
    return names;
}

std::optional<QString> nameOf(quint32 keysym)
{
    if (keysym >= XK_0 && keysym <= XK_9)
        return QString(QLatin1Char(char('0' + (keysym - XK_0))));
    if (keysym >= XK_a && keysym <= XK_z)
        return QString(QLatin1Char(char('A' + (keysym - XK_a))));
    if (keysym >= XK_A && keysym <= XK_Z)
        return QString(QLatin1Char(char('A' + (keysym - XK_A))));
    if (keysym >= XK_F1 && keysym <= XK_F12)
        return QStringLiteral("F%1").arg(keysym - XK_F1 + 1);
    return std::nullopt;
}
}

std::optional<HotkeySpec> HotkeySpec::parse(const QString& text)
{
    const QString trimmed = text.trimmed();
    HotkeySpec spec;
    qsizetype i = 0;
    for (; i < trimmed.size(); ++i) {
        const QChar c = trimmed.at(i);
        if (c == controlSymbol)
            spec.modifiers |= control;
        else if (c == optionSymbol)
            spec.modifiers |= option;
        else if (c == shiftSymbol)
            spec.modifiers |= shift;
        else if (c == commandSymbol)
            spec.modifiers |= command;
        else
            break;
    }
    const QString name = trimmed.mid(i).toUpper();
    const auto key = keyNames().constFind(name);
    if (key == keyNames().constEnd() || !(spec.modifiers & (control | option | command)))
        return std::nullopt;
    spec.keyCode = *key;
    spec.display = trimmed.left(i) + name;
    return spec;
}

HotkeySpec HotkeySpec::parseOr(const QString& text, const QString& fallback)
{
    if (auto spec = parse(text))
        return *spec;
    return parse(fallback).value_or(HotkeySpec{});
}

QString HotkeySpec::desktopText() const
{
    QStringList parts;
    qsizetype i = 0;
    for (; i < display.size(); ++i) {
        const QChar c = display.at(i);
        const QString name = c == controlSymbol ? QStringLiteral("Ctrl")
            : c == optionSymbol                 ? QStringLiteral("Alt")
            : c == shiftSymbol                  ? QStringLiteral("Shift")
            : c == commandSymbol                ? QStringLiteral("Super")
                                                : QString();
        if (name.isEmpty())
            break;
        if (!parts.contains(name)) // a symbol typed twice counts once
            parts << name;
    }
    parts << display.mid(i);
    return parts.join(QLatin1Char('+'));
}

std::optional<QString> HotkeySpec::from(Qt::KeyboardModifiers held, quint32 keysym)
{
    const auto name = nameOf(keysym);
    if (!name)
        return std::nullopt;
    QString text;
    if (held & Qt::ControlModifier)
        text += controlSymbol;
    if (held & Qt::AltModifier)
        text += optionSymbol;
    if (held & Qt::ShiftModifier)
        text += shiftSymbol;
    if (held & Qt::MetaModifier)
        text += commandSymbol;
    text += *name;
    if (!parse(text))
        return std::nullopt;
    return text;
}
