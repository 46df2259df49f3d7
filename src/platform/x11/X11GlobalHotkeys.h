#pragma once

#include "platform/GlobalHotkeys.h"

#include <QAbstractNativeEventFilter>
#include <QHash>

#include <memory>

struct xcb_connection_t;

// Passive key grabs on the root window over Qt's own X connection; the presses arrive through Qt's
// native event stream. Each combination is grabbed four times, so CapsLock and NumLock do not matter.
class X11GlobalHotkeys final : public GlobalHotkeys, private QAbstractNativeEventFilter {
    Q_OBJECT
public:
    X11GlobalHotkeys(xcb_connection_t* connection, quint32 root, QObject* parent = nullptr);
    ~X11GlobalHotkeys() override;

    // Over the running application's X connection; none when Qt does not run on X11.
    static std::unique_ptr<X11GlobalHotkeys> forApplication(QObject* parent = nullptr);

    Grab grab(int id, quint32 keysym, Modifiers modifiers) override;
    void release(int id) override;
    std::optional<quint32> baseKeysym(quint32 keycode) const override;

private:
    struct Combination {
        quint8 keycode = 0;
        quint16 modifiers = 0; // X modifier bits
        quint16 numLock = 0;   // the bit NumLock sets, left out when matching
    };

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
    void ungrab(const Combination& combination);

    xcb_connection_t* connection;
    quint32 root;
    QHash<int, Combination> grabs;
};
