#include "state/NameRule.h"

#include <QList>

namespace {
// Letters of some scripts carry two or three marks; more only pile up on one another.
constexpr int marksInARow = 3;

bool mark(QChar::Category category)
{
    return category == QChar::Mark_NonSpacing || category == QChar::Mark_SpacingCombining ||
           category == QChar::Mark_Enclosing;
}

// Joiners shape emoji and some scripts; they hide nothing on their own.
bool joiner(char32_t c) { return c == 0x200C || c == 0x200D; }

bool hidden(char32_t c, QChar::Category category)
{
    return category == QChar::Other_Control || category == QChar::Separator_Line ||
           category == QChar::Separator_Paragraph || (category == QChar::Other_Format && !joiner(c));
}

// Letters that draw nothing: the Hangul fillers and the blank braille pattern.
bool blankLetter(char32_t c) { return c == 0x115F || c == 0x1160 || c == 0x3164 || c == 0xFFA0 || c == 0x2800; }

bool visible(char32_t c, QChar::Category category)
{
    return !blankLetter(c) && !mark(category) && category != QChar::Separator_Space && category != QChar::Other_Format &&
           category != QChar::Other_Control;
}
} // namespace

namespace NameRule {

std::optional<QString> problem(const QString& name)
{
    int marks = 0;
    bool seen = false;
    for (const char32_t c : name.toUcs4()) {
        const QChar::Category category = QChar::category(c);
        if (hidden(c, category))
            return QStringLiteral("名字里不能有看不见的控制字符、格式字符或换行");
        marks = mark(category) ? marks + 1 : 0;
        if (marks > marksInARow)
            return QStringLiteral("名字里叠加的符号太多了");
        seen = seen || visible(c, category);
    }
    if (!seen)
        return QStringLiteral("名字里没有看得见的字");
    return std::nullopt;
}

} // namespace NameRule
