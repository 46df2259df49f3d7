#pragma once

#include <QImage>
#include <QSet>
#include <QTest>
#include <QWidget>

// Saves a window's picture as <folder>/<name>.png for a person to look at. Answers what is wrong with
// it (not saved, not `size`, blank), or nothing. Header only: the support library has no widgets.
inline QString saveWindowShot(QWidget* window, const QString& folder, const QString& name, QSize size)
{
    QTest::qWait(150); // let the window manager and any spinner draw
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!window->grab().save(path))
        return QStringLiteral("could not save ") + path;
    const QImage image(path);
    if (image.size() / image.devicePixelRatio() != size)
        return QStringLiteral("%1 is %2x%3").arg(name).arg(image.width()).arg(image.height());
    // Not blank: text, fields and buttons give many distinct colours.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return colours.size() > 20 ? QString() : name + QStringLiteral(" looks blank");
}
