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
    // The application the last hand-over went to did not take it.
    void failLater(const QString& why)
    {
        if (onFailure)
            onFailure(opened.last(), why);
    }
    QList<QUrl> opened;
    bool works = true;
};
