#include "support/FakeClipboard.h"

Outcome<ClipboardImage> FakeClipboard::readImage()
{
    ++reads;
    if (!unreadable.isEmpty())
        return Outcome<ClipboardImage>::failure(unreadable);
    return Outcome<ClipboardImage>::success(currentImage);
}

void FakeClipboard::writeText(const QString& text)
{
    unreadable.clear();
    currentImage = {};
    currentText = text;
    owned = true;
    advance(Notice::Send);
}

void FakeClipboard::copyUnreadableImage(const QString& message)
{
    currentImage = {};
    currentText.clear();
    unreadable = message;
    owned = false;
    advance(Notice::Send);
}

void FakeClipboard::copyImage(const QImage& image, Notice notice)
{
    unreadable.clear();
    currentImage = image;
    currentText.clear();
    owned = false;
    advance(notice);
}

void FakeClipboard::copyText(const QString& text, Notice notice)
{
    unreadable.clear();
    currentImage = {};
    currentText = text;
    owned = false;
    advance(notice);
}

void FakeClipboard::advance(Notice notice)
{
    ++count;
    if (notice == Notice::Send)
        Q_EMIT changed();
}
