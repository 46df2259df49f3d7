#pragma once

#include "platform/Flash.h"

#include <QImage>
#include <QWidget>

class QLabel;
class QTimer;

// The short notice at the top right of the screen: never takes focus, lets clicks through, and a new
// notice replaces the current one.
class FlashOverlay : public QWidget, public Flash {
    Q_OBJECT
public:
    static constexpr int margin = 12;

    explicit FlashOverlay(QWidget* parent = nullptr);

    void show(const QImage& image, const QString& line, int durationMs = defaultMs) override;
    QString line() const;

    // "HH:mm:ss" in local time.
    static QString time(const QDateTime& date);

private:
    void place();

    QLabel* picture;
    QLabel* text;
    QTimer* hideTimer;
};
