#pragma once

#include "platform/ClipboardImage.h"
#include "state/Outcome.h"

#include <QImage>
#include <QObject>
#include <QString>

// The desktop's copy-and-paste clipboard, as far as tarnel uses it.
class Clipboard : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Advances by one for every change of the clipboard's content, ours included.
    virtual quint64 changeCount() const = 0;
    // The first image the clipboard offers, read now (its owner may be gone later), perhaps still to be decoded:
    // a null image when it offers none, a failure with a ready message when it offers one that cannot be read.
    virtual Outcome<ClipboardImage> readImage() = 0;
    // Replaces the whole content with plain text.
    virtual void writeText(const QString& text) = 0;
    // True while the content is our own write.
    virtual bool ownsClipboard() const = 0;
    // True when every change comes with the notice below, so nobody needs to poll the change count.
    virtual bool announcesChanges() const { return false; }

Q_SIGNALS:
    // After the change count advanced.
    void changed();
};
