#include "state/NameRule.h"

#include <QList>
#include <QTextBoundaryFinder>

namespace {
// Letters of some scripts carry two or three marks; more only pile up on one another.
constexpr int marksInARow = 3;
// The longest emoji sequences (a family with skin tones) take 19 UTF-16 units.
constexpr int graphemeUnits = 20;

const QString pileText = QStringLiteral("名字里叠加的符号太多了");
const QString hiddenText = QStringLiteral("名字里不能有看不见的控制字符、格式字符或换行");

// Joiners shape emoji and some scripts; they hide nothing on their own.
bool joiner(char32_t c) { return c == 0x200C || c == 0x200D; }

// Variation selectors pick a glyph, the grapheme joiner keeps marks apart: neither draws anything.
bool selector(char32_t c)
{
    return (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0xE0100 && c <= 0xE01EF) || (c >= 0x180B && c <= 0x180D) || c == 0x180F;
}
constexpr char32_t graphemeJoiner = 0x034F;

// What may follow a character without drawing anything: each kind at most once.
enum Extender { none = 0, joins = 1, selects = 2, keepsApart = 4 };

Extender extender(char32_t c)
{
    return joiner(c) ? joins : selector(c) ? selects : c == graphemeJoiner ? keepsApart : none;
}

bool mark(QChar::Category category)
{
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

bool hidden(char32_t c, QChar::Category category)
{
    return category == QChar::Other_Control || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph || (category == QChar::Other_Format && !joiner(c));
}

// Code points that are no text: noncharacters (the lone surrogates never become code points here).
bool noncharacter(char32_t c) { return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE; }

// Letters that draw nothing: the Hangul fillers and the blank braille pattern.
bool blankLetter(char32_t c) { return c == 0x115F || c == 0x1160 || c == 0x3164 || c == 0xFFA0 || c == 0x2800; }

// Private-use and unassigned characters draw nothing anyone else's font agrees on.
bool visible(char32_t c, QChar::Category category)
{
    return !blankLetter(c) && !mark(category) && category != QChar::Separator_Space && category != QChar::Other_Format &&
           category != QChar::Other_Control && category != QChar::Other_PrivateUse &&
           category != QChar::Other_NotAssigned && extender(c) == none;
}

// The code points of `name`; none when a surrogate stands alone.
std::optional<QList<char32_t>> codePoints(const QString& name)
{
    QList<char32_t> points;
    points.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar unit = name.at(i);
        if (unit.isHighSurrogate() && i + 1 < name.size() && name.at(i + 1).isLowSurrogate()) {
            points.append(QChar::surrogateToUcs4(unit, name.at(i + 1)));
            ++i;
        } else if (unit.isSurrogate()) {
            return std::nullopt;
        } else {
            points.append(unit.unicode());
        }
    }
    return points;
}

// Characters as the user counts them: grapheme clusters. None when one of them is too long to be one
// character rather than a pile.
std::optional<int> characters(const QString& name)
{
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, name);
    int count = 0;
    for (qsizetype start = 0, end = 0; (end = graphemes.toNextBoundary()) > 0; start = end, ++count)
        if (end - start > graphemeUnits)
            return std::nullopt;
    return count;
}

std::optional<QString> brokenText(const QString& name)
{
    const auto points = codePoints(name);
    if (!points)
        return QStringLiteral("名字里有无效的字符");
    int marks = 0;
    int extenders = none; // those after the last character that draws
    bool seen = false;
    for (const char32_t c : *points) {
        if (noncharacter(c))
            return QStringLiteral("名字里有无效的字符");
        const QChar::Category category = QChar::category(c);
        if (hidden(c, category))
            return hiddenText;
        const Extender kind = extender(c);
        if (kind != none) {
            if (extenders & kind)
                return pileText;
            extenders |= kind;
        } else if (mark(category)) {
            if (++marks > marksInARow)
                return pileText;
        } else {
            marks = 0;
            extenders = none;
        }
        seen = seen || visible(c, category);
    }
    // A joiner at the end joins nothing and only makes the name differ from one that reads the same.
    if (!points->isEmpty() && joiner(points->last()))
        return hiddenText;
    if (!seen)
        return QStringLiteral("名字里没有看得见的字");
    return std::nullopt;
}
} // namespace

namespace NameRule {

std::optional<QString> problem(const QString& name, int longest, const QString& lengthText)
{
    // Stored names stay small whatever their characters hold.
    if (name.isEmpty() || name.size() > qsizetype(longest) * graphemeUnits)
        return lengthText;
    if (auto broken = brokenText(name))
        return broken;
    const std::optional<int> count = characters(name);
    if (!count)
        return pileText;
    if (*count > longest)
        return lengthText;
    return std::nullopt;
}

} // namespace NameRule
