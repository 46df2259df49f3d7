#include "DeviceName.h"

#include <QList>
#include <QTextBoundaryFinder>

namespace {
// Letters of some scripts carry two or three marks; more only pile up on one another.
constexpr int marksInARow = 3;
// Stored names stay small whatever their graphemes hold.
constexpr int unitLimit = 400;

bool bidiControl(uint c) { return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069); }

bool mark(QChar::Category category)
{
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}
} // namespace

namespace DeviceName {

int length(const QString& name)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, name);
    int count = 0;
    while (graphemes.toNextBoundary() > 0)
        ++count;
    return count;
}

bool valid(const QString& name)
{
    if (name.isEmpty() || name.size() > unitLimit)
        return false;
    int marks = 0;
    for (const uint c : name.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (category == QChar::Other_Control || bidiControl(c))
            return false;
        marks = mark(category) ? marks + 1 : 0;
        if (marks > marksInARow)
            return false;
    }
    return length(name) <= maxLength;
}

} // namespace DeviceName
