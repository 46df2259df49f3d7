#include "support/FakeClipboard.h"

QImage FakeClipboard::readImage()
{
    ++reads;
    return currentImage;
}

void FakeClipboard::writeText(const QString& text)
{
    currentImage = {};
    currentText = text;
    owned = true;
    advance(Notice::Send);
}

void FakeClipboard::copyImage(const QImage& image, Notice notice)
{
    currentImage = image;
    currentText.clear();
    owned = false;
    advance(notice);
}

void FakeClipboard::copyText(const QString& text, Notice notice)
{
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
