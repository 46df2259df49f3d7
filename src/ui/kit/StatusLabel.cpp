#include "ui/kit/StatusLabel.h"

#include "ui/kit/Theme.h"

StatusLabel::StatusLabel(const QString& role, QWidget* parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(true);
    setColorRole(role);
}

void StatusLabel::setColorRole(const QString& newRole)
{
    role = newRole;
    Theme::paintText(*this, role);
}

void StatusLabel::setSizeStep(int step)
{
    QFont f = font();
    f.setPointSizeF(std::max(6.0, QFont().pointSizeF() + step));
    setFont(f);
}

void StatusLabel::setMarkup(const QString& marked)
{
    setTextFormat(Qt::RichText);
    setText(markupHtml(marked));
}

QString StatusLabel::markupHtml(const QString& marked)
{
    // A run opens at its marker and closes at the next one; a marker left open stands as written.
    QString html;
    int at = 0;
    while (at < marked.size()) {
        const bool bold = marked.mid(at, 2) == QLatin1String("**");
        const bool code = !bold && marked[at] == QLatin1Char('`');
        const QString marker = bold ? QStringLiteral("**") : QStringLiteral("`");
        const int end = (bold || code) ? int(marked.indexOf(marker, at + marker.size())) : -1;
        if (end >= 0) {
            const QString inner = marked.mid(at + marker.size(), end - at - marker.size()).toHtmlEscaped();
            html += bold ? QStringLiteral("<b>%1</b>").arg(inner) : QStringLiteral("<code style=\"background-color:rgba(128,128,128,40)\">%1</code>").arg(inner);
            at = end + marker.size();
            continue;
        }
        html += QString(marked[at]).toHtmlEscaped();
        ++at;
    }
    html.replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    return QStringLiteral("<span style=\"white-space:pre-wrap\">") + html + QStringLiteral("</span>");
}
