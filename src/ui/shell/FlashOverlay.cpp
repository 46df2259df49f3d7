#include "ui/shell/FlashOverlay.h"

#include <QDateTime>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QScreen>
#include <QTimer>

FlashOverlay::FlashOverlay(QWidget* parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                          Qt::WindowDoesNotAcceptFocus | Qt::WindowTransparentForInput | Qt::X11BypassWindowManagerHint),
      picture(new QLabel(this)), text(new QLabel(this)), hideTimer(new QTimer(this))
{
    setObjectName(QStringLiteral("flashOverlay"));
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setStyleSheet(QStringLiteral("#flashOverlay { background: rgba(30, 30, 30, 230); border-radius: 10px; }"
                                 "QLabel { color: white; font-size: 14px; }"));
    setAttribute(Qt::WA_StyledBackground);
    text->setObjectName(QStringLiteral("flashText"));
    text->setTextFormat(Qt::PlainText);
    picture->setObjectName(QStringLiteral("flashImage"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(14, 10, 14, 10);
    layout->setSpacing(10);
    layout->addWidget(picture);
    layout->addWidget(text);
    hideTimer->setSingleShot(true);
    connect(hideTimer, &QTimer::timeout, this, &QWidget::hide);
}

void FlashOverlay::show(const QImage& image, const QString& line, int durationMs)
{
    text->setText(line);
    if (image.isNull()) {
        picture->clear();
        picture->hide();
    } else {
        picture->setPixmap(QPixmap::fromImage(image.scaled(160, 100, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        picture->show();
    }
    adjustSize();
    place();
    QWidget::show();
    raise();
    hideTimer->start(durationMs);
}

QString FlashOverlay::line() const { return text->text(); }

QString FlashOverlay::time(const QDateTime& date)
{
    return QLocale(QStringLiteral("en_US_POSIX")).toString(date.toLocalTime(), QStringLiteral("HH:mm:ss"));
}

void FlashOverlay::place()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    const QRect area = screen->availableGeometry();
    move(area.right() - width() - margin + 1, area.top() + margin);
}
