#pragma once

#include "platform/DesktopOpener.h"

#include <QList>

// Remembers what it was asked to open; `works` false stands for a desktop with nothing to open it.
class FakeOpener final : public DesktopOpener {
public:
    bool open(const QUrl& url) override
    {
        opened << url;
        return works;
    }
    QList<QUrl> opened;
    bool works = true;
};
