#include "ui/kit/Symbols.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QPalette>
#include <QStyle>

namespace {

QIcon slashedLock();

// A symbol the theme may lack: the theme's name for it, and what stands in otherwise (a style icon, a
// character of the installed fonts drawn in the text colour, optionally inside a ring, or a drawing).
struct Mapping {
    const char* theme;
    QStyle::StandardPixmap fallback = QStyle::SP_CustomBase;
    const char* glyph = nullptr;
    bool ring = false;
    QIcon (*drawing)() = nullptr;
};

const QHash<QString, Mapping>& mappings()
{
    static const QHash<QString, Mapping> map{
        {QStringLiteral("info.circle"), {"dialog-information", QStyle::SP_MessageBoxInformation}},
        {QStringLiteral("exclamationmark.circle"), {"dialog-error", QStyle::SP_MessageBoxCritical}},
        {QStringLiteral("exclamationmark.triangle"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("exclamationmark.triangle.fill"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("lock.slash.fill"), {"system-lock-screen", QStyle::SP_CustomBase, nullptr, false, slashedLock}},
        {QStringLiteral("checkmark.circle"), {"emblem-ok", QStyle::SP_DialogApplyButton}},
        {QStringLiteral("checkmark.circle.fill"), {"emblem-ok-symbolic", QStyle::SP_DialogApplyButton}},
        {QStringLiteral("exclamationmark.circle.fill"), {"dialog-error", QStyle::SP_MessageBoxCritical}},
        {QStringLiteral("bubble.left.and.exclamationmark.bubble.right.fill"),
         {"chat-message-new-symbolic", QStyle::SP_MessageBoxQuestion}},
        {QStringLiteral("questionmark.circle"), {"help-about", QStyle::SP_CustomBase, "?", true}},
        {QStringLiteral("bubble.left.and.exclamationmark.bubble.right"),
         {"mail-message-new", QStyle::SP_CustomBase, "\xF0\x9F\x97\xA8"}}, // 🗨
        {QStringLiteral("gearshape"), {"preferences-system", QStyle::SP_CustomBase, "\xE2\x9A\x99\xEF\xB8\x8E"}}, // ⚙︎
        {QStringLiteral("person.crop.circle.badge.exclamationmark"),
         {"avatar-default", QStyle::SP_CustomBase, "\xF0\x9F\x91\xA4"}}, // 👤
        {QStringLiteral("person.2.fill"), {"system-users", QStyle::SP_CustomBase, "\xF0\x9F\x91\xA5"}}, // 👥
        {QStringLiteral("ellipsis.circle"), {"view-more", QStyle::SP_CustomBase, "\xE2\x8B\xAF", true}}, // ⋯
        {QStringLiteral("flag.fill"), {"flag", QStyle::SP_CustomBase, "\xE2\x9A\x91"}},                 // ⚑
        {QStringLiteral("hand.raised.fill"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("server.rack"), {"network-server", QStyle::SP_DriveNetIcon}},
        {QStringLiteral("terminal"), {"utilities-terminal", QStyle::SP_CustomBase, ">_"}},
        {QStringLiteral("flask"), {"applications-science", QStyle::SP_CustomBase, "\xE2\x9A\x97"}}, // ⚗
        {QStringLiteral("laptopcomputer"), {"computer", QStyle::SP_ComputerIcon}},
        {QStringLiteral("macbook.and.iphone"), {"computer", QStyle::SP_ComputerIcon}},
        {QStringLiteral("moon.zzz"), {"weather-clear-night", QStyle::SP_CustomBase, "\xE2\x98\xBE"}}, // ☾
        {QStringLiteral("photo.on.rectangle"), {"image-x-generic", QStyle::SP_FileDialogContentsView}},
        {QStringLiteral("arrow.triangle.2.circlepath"), {"view-refresh", QStyle::SP_BrowserReload}},
        {QStringLiteral("circle"), {"radio-unchecked", QStyle::SP_CustomBase, "\xE2\x97\x8B"}}, // ○
        {QStringLiteral("largecircle.fill.circle"), {"radio-checked", QStyle::SP_CustomBase, "\xE2\x97\x89"}}, // ◉
        {QStringLiteral("menubar.rectangle"), {"", QStyle::SP_CustomBase, nullptr, false, Symbols::trayGlyph}}, // the tray icon itself
    };
    return map;
}

// A filled padlock crossed by a slash, in the text colour.
QIcon slashedLock()
{
    constexpr int side = 64;
    QPixmap picture(side, side);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor ink = QApplication::palette().color(QPalette::WindowText);
    painter.setPen(QPen(ink, 6, Qt::SolidLine, Qt::FlatCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawArc(QRectF(19, 8, 26, 30), 0, 180 * 16); // the shackle's bow
    painter.drawLine(QPointF(19, 23), QPointF(19, 31));
    painter.drawLine(QPointF(45, 23), QPointF(45, 31));
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    painter.drawRoundedRect(QRectF(11, 29, 42, 31), 6, 6);
    // The slash, cut free of the lock by a clear margin on each side.
    painter.setCompositionMode(QPainter::CompositionMode_Clear);
    painter.setPen(QPen(Qt::transparent, 13, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(9, 6), QPointF(55, 60));
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setPen(QPen(ink, 5, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(9, 6), QPointF(55, 60));
    return QIcon(picture);
}

QIcon glyphIcon(const Mapping& mapping)
{
    constexpr int side = 64;
    QPixmap picture(side, side);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    const QColor ink = QApplication::palette().color(QPalette::WindowText);
    QFont font = QApplication::font();
    font.setPixelSize(mapping.ring ? 38 : 52);
    font.setBold(mapping.ring);
    painter.setFont(font);
    painter.setPen(ink);
    if (mapping.ring) {
        painter.setPen(QPen(ink, 5));
        painter.drawEllipse(QRectF(4, 4, side - 8, side - 8));
        painter.setPen(ink);
    }
    painter.drawText(QRect(0, 0, side, side), Qt::AlignCenter, QString::fromUtf8(mapping.glyph));
    return QIcon(picture);
}

} // namespace

QIcon Symbols::icon(const QString& symbol)
{
    const auto found = mappings().constFind(symbol);
    if (found == mappings().constEnd())
        return QIcon::fromTheme(symbol);
    const QString theme = QString::fromLatin1(found->theme);
    if (!theme.isEmpty() && QIcon::hasThemeIcon(theme))
        return QIcon::fromTheme(theme);
    if (found->drawing)
        return found->drawing();
    if (found->glyph)
        return glyphIcon(*found);
    return QApplication::style()->standardIcon(found->fallback);
}

QIcon Symbols::appIcon()
{
    const QIcon window = QApplication::windowIcon();
    if (!window.isNull() && !window.availableSizes().isEmpty())
        return window;
    return QIcon::fromTheme(QStringLiteral("tarnel"), QApplication::style()->standardIcon(QStyle::SP_ComputerIcon));
}

QPixmap Symbols::pixmap(const QIcon& icon, int side)
{
    // Stand-in icons may come only in small sizes: scale them up rather than show a dot.
    QPixmap picture = icon.pixmap(side, side);
    if (!picture.isNull() && picture.width() < side)
        picture = picture.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return picture;
}

QPixmap Symbols::tinted(const QString& symbol, int side, const QColor& color)
{
    QPixmap pixmap = Symbols::pixmap(icon(symbol), side);
    QPainter painter(&pixmap);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(pixmap.rect(), color);
    return pixmap;
}

QIcon Symbols::trayGlyph()
{
    // A viewfinder's four corners with a chain link inside, light on a dark rim so it shows on any panel.
    QPixmap pixmap(64, 64);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const int a = 6, b = 58, l = 14;
    const QList<QPolygon> corners = {QPolygon({QPoint(a, a + l), QPoint(a, a), QPoint(a + l, a)}),
                                     QPolygon({QPoint(b - l, a), QPoint(b, a), QPoint(b, a + l)}),
                                     QPolygon({QPoint(a, b - l), QPoint(a, b), QPoint(a + l, b)}),
                                     QPolygon({QPoint(b - l, b), QPoint(b, b), QPoint(b, b - l)})};
    for (const auto& [colour, width] : {std::pair{QColor(30, 30, 30), 9}, std::pair{QColor(245, 245, 245), 5}}) {
        p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        for (const QPolygon& corner : corners)
            p.drawPolyline(corner);
        p.setPen(QPen(colour, width - 1));
        p.drawRoundedRect(QRectF(15, 24, 20, 13), 6.5, 6.5);
        p.drawRoundedRect(QRectF(29, 27, 20, 13), 6.5, 6.5);
    }
    p.end();
    return QIcon(pixmap);
}
