#pragma once

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QLabel>
#include <QStringList>
#include <QTest>
#include <QTextDocument>
#include <QTextLayout>
#include <QWidget>

// Whether the labels a window shows are whole as drawn: each visible label with text must hold the text at
// its own width (wrapped where it wraps, without a Latin word broken across lines), and sit inside the
// widgets that hold it (a scrolled page counts as holding all of it). Header only: the support library has
// no widgets.
namespace LabelFit {

// Where the label draws its text.
inline QRect textRoom(const QLabel& label)
{
    const int m = label.margin();
    return label.contentsRect().adjusted(m, m, -m, -m);
}

// Where the lines of a wrapping plain-text label start after the first, at its width now.
inline QList<int> lineStarts(const QLabel& label)
{
    QList<int> starts;
    if (!label.wordWrap())
        return starts;
    QString text = label.text();
    text.replace(QLatin1Char('\n'), QChar::LineSeparator);
    QTextLayout layout(text, label.font());
    QTextOption option;
    option.setWrapMode(QTextOption::WordWrap);
    layout.setTextOption(option);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(textRoom(label).width());
        if (line.textStart() > 0)
            starts.append(line.textStart());
    }
    layout.endLayout();
    return starts;
}

// Plain text: the size QLabel draws it at.
inline QSize plainSize(const QLabel& label, int width)
{
    // As QLabel measures: from the top, whatever its vertical alignment.
    const int flags = int(label.alignment() & Qt::AlignHorizontal_Mask) | (label.wordWrap() ? int(Qt::TextWordWrap) : 0);
    return label.fontMetrics().boundingRect(QRect(0, 0, width, 100000), flags, label.text()).size();
}

inline QSize richSize(const QLabel& label, int width)
{
    QTextDocument doc;
    doc.setDefaultFont(label.font());
    doc.setDocumentMargin(0);
    doc.setHtml(label.text());
    if (label.wordWrap())
        doc.setTextWidth(width);
    return QSizeF(doc.idealWidth(), doc.size().height()).toSize();
}

// A letter or digit of a Latin word (a break after a slash or a hyphen is a line breaker's own choice).
inline bool latin(QChar c) { return c.unicode() < 0x250 && c.isLetterOrNumber(); }

// What is wrong with one label as drawn, or nothing.
inline QString problem(const QLabel& label, const QWidget& window)
{
    const QRect room = textRoom(label);
    const bool rich = label.textFormat() == Qt::RichText
        || (label.textFormat() == Qt::AutoText && Qt::mightBeRichText(label.text()));
    const QSize needs = rich ? richSize(label, room.width()) : plainSize(label, room.width());
    const QString name = label.objectName().isEmpty() ? label.text().left(12) : label.objectName();
    if (needs.width() > room.width() || needs.height() > room.height())
        return QStringLiteral("%1 needs %2x%3, has %4x%5: %6")
            .arg(name).arg(needs.width()).arg(needs.height()).arg(room.width()).arg(room.height()).arg(label.text());
    const QString text = label.text();
    for (int at : rich ? QList<int>() : lineStarts(label))
        if (at < text.size() && latin(text[at - 1]) && latin(text[at]))
            return QStringLiteral("%1 breaks a word at \"%2|%3\"").arg(name, text.mid(std::max(0, at - 6), std::min(6, at)), text.mid(at, 6));
    // Inside what holds it, up to the window or a scrolled page.
    for (const QWidget* holder = label.parentWidget(); holder; holder = holder->parentWidget()) {
        if (qobject_cast<const QAbstractScrollArea*>(holder->parentWidget()))
            break;
        const QRect within(label.mapTo(holder, room.topLeft()), room.size());
        if (!holder->rect().contains(within))
            return QStringLiteral("%1 reaches out of %2").arg(name, holder->objectName());
        if (holder == &window)
            break;
    }
    return QString();
}

// The labels of `window` on show that do not hold their text, one line each; empty when all fit. Pending
// layouts are done first, as before the window is drawn.
inline QStringList cutLabels(const QWidget& window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    QStringList cut;
    for (const QLabel* label : window.findChildren<QLabel*>())
        if (label->isVisibleTo(&window) && !label->text().isEmpty())
            if (const QString p = problem(*label, window); !p.isEmpty())
                cut << p;
    return cut;
}

} // namespace LabelFit

// Fails the test with the labels of `window` that are cut once what is pending (a window growing) is done.
#define VERIFY_LABELS_FIT(window)                                                                          \
    do {                                                                                                   \
        QTest::qWaitFor([&] { return LabelFit::cutLabels(window).isEmpty(); }, 5000);                       \
        const QStringList cut = LabelFit::cutLabels(window);                                              \
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));                               \
    } while (false)
