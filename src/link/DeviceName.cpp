#include "DeviceName.h"

#include "state/NameRule.h"

#include <QTextBoundaryFinder>

namespace {
// Stored names stay small whatever their graphemes hold.
constexpr int unitLimit = 400;
const QString lengthText = QStringLiteral("名字 1～40 个字符");
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

std::optional<QString> problem(const QString& name)
{
    if (name.isEmpty() || name.size() > unitLimit)
        return lengthText;
    if (auto broken = NameRule::problem(name))
        return broken;
    if (length(name) > maxLength)
        return lengthText;
    return std::nullopt;
}

bool valid(const QString& name) { return !problem(name); }

} // namespace DeviceName
