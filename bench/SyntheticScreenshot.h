#pragma once
// A synthetic 4K screenshot for the benchmarks: desktop, windows with title bars, text and code, buttons, a photo.
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QRandomGenerator>
#include <QStringList>
#include <algorithm>

inline QImage syntheticScreenshot()
{
    QImage image(3840, 2160, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient desktop(0, 0, 3840, 2160);
    desktop.setColorAt(0, QColor(38, 70, 120));
    desktop.setColorAt(1, QColor(120, 60, 110));
    painter.fillRect(image.rect(), desktop);

    QRandomGenerator random(2024);
    const QStringList words = {"return", "const", "auto", "image", "shot", "upload", "server", "if", "for",
                               "QString", "=", "{", "}", "();", "0x1f", "path", "数据", "截图", "完成"};
    auto window = [&](QRect frame, QColor background, bool code) {
        painter.fillRect(frame.adjusted(6, 6, 6, 6), QColor(0, 0, 0, 60));
        painter.fillRect(frame, background);
        painter.fillRect(QRect(frame.topLeft(), QSize(frame.width(), 56)), QColor(228, 228, 232));
        for (int i = 0; i < 3; ++i)
            painter.fillRect(frame.left() + 20 + i * 36, frame.top() + 18, 20, 20,
                             QColor(200, 80 + 60 * i, 80));
        QFont font(code ? QStringLiteral("DejaVu Sans Mono") : QStringLiteral("DejaVu Sans"));
        font.setPixelSize(26);
        painter.setFont(font);
        const QColor ink = code ? QColor(220, 220, 210) : QColor(30, 30, 30);
        for (int y = frame.top() + 100; y < frame.bottom() - 30; y += 38) {
            QString line(QString(int(random.bounded(8)) * 2, QLatin1Char(' ')));
            const int count = 3 + int(random.bounded(12));
            for (int i = 0; i < count; ++i)
                line += words[int(random.bounded(words.size()))] + QLatin1Char(' ');
            painter.setPen(code && random.bounded(4) == 0 ? QColor(120, 200, 255) : ink);
            painter.drawText(frame.left() + 30, y, line);
        }
    };
    window(QRect(120, 90, 1900, 1500), QColor(30, 32, 40), true);
    window(QRect(1700, 300, 1900, 1300), QColor(252, 252, 252), false);

    // A photo in the browser window: smooth colours with sensor noise.
    QImage photo(1100, 700, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(photo.scanLine(y));
        for (int x = 0; x < photo.width(); ++x) {
            const int n = int(random.bounded(18));
            row[x] = qRgb(std::min(255, 90 + x / 8 + n), std::min(255, 40 + y / 4 + n),
                          std::min(255, 60 + (x + y) / 12 + n));
        }
    }
    painter.drawImage(2300, 700, photo);
    for (int i = 0; i < 6; ++i)
        painter.fillRect(1760 + i * 220, 1480, 190, 70, QColor(40, 120, 220));
    // Task bar.
    painter.fillRect(0, 2100, 3840, 60, QColor(20, 20, 24));
    return image;
}
