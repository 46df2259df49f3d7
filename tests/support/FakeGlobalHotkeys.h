#pragma once

#include "platform/GlobalHotkeys.h"

#include <QHash>
#include <QSet>

// Grabs in memory; a combination in `taken` is refused as another program's. `press` fires a grabbed id.
class FakeGlobalHotkeys final : public GlobalHotkeys {
    Q_OBJECT
public:
    struct Combination {
        quint32 keysym = 0;
        Modifiers modifiers;
        bool operator==(const Combination&) const = default;
    };

    using GlobalHotkeys::GlobalHotkeys;

    Grab grab(int id, quint32 keysym, Modifiers modifiers) override
    {
        release(id);
        const Combination combination{keysym, modifiers};
        if (taken.contains(combination))
            return {false, QStringLiteral("BadAccess，组合键已被别的程序占用")};
        grabs.insert(id, combination);
        return {};
    }

    void release(int id) override { grabs.remove(id); }

    // Presses a combination: fires the id holding it, if any.
    void press(quint32 keysym, Modifiers modifiers)
    {
        for (auto it = grabs.constBegin(); it != grabs.constEnd(); ++it)
            if (it.value() == Combination{keysym, modifiers})
                Q_EMIT pressed(it.key());
    }

    QHash<int, Combination> grabs;
    QList<Combination> taken;
};
