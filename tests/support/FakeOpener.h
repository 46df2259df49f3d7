#pragma once

#include "platform/DesktopOpener.h"

#include <QList>

// Remembers what it was asked to open.
class FakeOpener final : public DesktopOpener {
public:
    bool open(const QUrl& url) override
    {
        opened << url;
        return true;
    }
    QList<QUrl> opened;
};
