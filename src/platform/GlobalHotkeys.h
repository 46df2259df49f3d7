#pragma once

#include <QObject>
#include <QString>

#include <optional>

// System-wide key combinations that reach us whatever window has the focus.
class GlobalHotkeys : public QObject {
    Q_OBJECT
public:
    enum Modifier { Control = 1, Alt = 2, Shift = 4, Super = 8 };
    Q_DECLARE_FLAGS(Modifiers, Modifier)

    // The outcome of one grab; status is the system's reason when it failed (e.g. "BadAccess").
    struct Grab {
        bool ok = true;
        QString status;
    };

    using QObject::QObject;

    // Takes keysym + modifiers for the given id (whatever the lock keys are); `pressed(id)` fires on each press.
    virtual Grab grab(int id, quint32 keysym, Modifiers modifiers) = 0;
    // Gives the id's combination back; nothing happens for an id that holds none.
    virtual void release(int id) = 0;
    // The keysym on the first level of a physical key (the "3" of Shift+3), for naming a pressed key;
    // none when the keyboard mapping is not known here.
    virtual std::optional<quint32> baseKeysym(quint32 keycode) const
    {
        Q_UNUSED(keycode);
        return std::nullopt;
    }

Q_SIGNALS:
    void pressed(int id);
};

Q_DECLARE_OPERATORS_FOR_FLAGS(GlobalHotkeys::Modifiers)
