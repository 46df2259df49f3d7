#include "ui/kit/Symbols.h"

#include <QApplication>
#include <QHash>
#include <QPainter>
#include <QStyle>

namespace {

struct Mapping {
    const char* theme;
    QStyle::StandardPixmap fallback;
};

const QHash<QString, Mapping>& mappings()
{
    static const QHash<QString, Mapping> map{
        {QStringLiteral("info.circle"), {"dialog-information", QStyle::SP_MessageBoxInformation}},
        {QStringLiteral("exclamationmark.circle"), {"dialog-error", QStyle::SP_MessageBoxCritical}},
        {QStringLiteral("exclamationmark.triangle"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("exclamationmark.triangle.fill"), {"dialog-warning", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("lock.slash.fill"), {"system-lock-screen", QStyle::SP_MessageBoxWarning}},
        {QStringLiteral("checkmark.circle"), {"emblem-ok", QStyle::SP_DialogApplyButton}},
    };
    return map;
}

} // namespace

QIcon Symbols::icon(const QString& symbol)
{
    const auto found = mappings().constFind(symbol);
    if (found == mappings().constEnd())
        return QIcon::fromTheme(symbol);
    return QIcon::fromTheme(QString::fromLatin1(found->theme), QApplication::style()->standardIcon(found->fallback));
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
