#pragma once

#include <QAbstractScrollArea>
#include <QLabel>
#include <QTest>
#include <QTextDocument>
#include <QTextLayout>

// Whether the labels a window shows are whole as drawn: each visible label holds its text at its own width
// (wrapped where it wraps, no Latin word broken across lines) and sits inside what holds it, up to the
// window or a scrolled page. Header only: the support library has no widgets.
namespace LabelFit {

// Where the lines of a wrapping plain-text label start after the first, at its width now.
inline QList<int> lineStarts(const QLabel& label)
{
    QList<int> starts;
    QTextLayout layout(QString(label.text()).replace(QLatin1Char('\n'), QChar::LineSeparator), label.font());
    layout.setTextOption(QTextOption(Qt::AlignLeft));
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid() && label.wordWrap(); line = layout.createLine()) {
        line.setLineWidth(label.contentsRect().width() - 2 * label.margin());
        if (line.textStart() > 0)
            starts << line.textStart();
    }
    layout.endLayout();
    return starts;
}

// What is wrong with one label as drawn, or nothing.
inline QString problem(const QLabel& label, const QWidget& window)
{
    const int m = label.margin();
    const QRect room = label.contentsRect().adjusted(m, m, -m, -m);
    const bool rich = label.textFormat() == Qt::RichText || (label.textFormat() == Qt::AutoText && Qt::mightBeRichText(label.text()));
    QSize needs;
    if (rich) {
        QTextDocument doc;
        doc.setDefaultFont(label.font());
        doc.setDocumentMargin(0);
        doc.setHtml(label.text());
        if (label.wordWrap())
            doc.setTextWidth(room.width());
        needs = QSizeF(doc.idealWidth(), doc.size().height()).toSize();
    } else { // as QLabel measures: from the top, whatever its vertical alignment
        const int flags = int(label.alignment() & Qt::AlignHorizontal_Mask) | (label.wordWrap() ? int(Qt::TextWordWrap) : 0);
        needs = label.fontMetrics().boundingRect(QRect(0, 0, room.width(), 100000), flags, label.text()).size();
    }
    const QString text = label.text(), name = label.objectName().isEmpty() ? text.left(12) : label.objectName();
    if (needs.width() > room.width() || needs.height() > room.height())
        return QStringLiteral("%1 needs %2x%3, has %4x%5: %6")
            .arg(name).arg(needs.width()).arg(needs.height()).arg(room.width()).arg(room.height()).arg(text);
    const auto latin = [](QChar c) { return c.unicode() < 0x250 && c.isLetterOrNumber(); };
    for (int at : rich ? QList<int>() : lineStarts(label))
        if (latin(text[at - 1]) && latin(text[at]))
            return QStringLiteral("%1 breaks a word: %2").arg(name, QString(text).insert(at, QLatin1Char('|')));
    for (const QWidget* holder = label.parentWidget(); holder && !qobject_cast<const QAbstractScrollArea*>(holder->parentWidget());
         holder = holder == &window ? nullptr : holder->parentWidget())
        if (!holder->rect().contains(QRect(label.mapTo(holder, room.topLeft()), room.size())))
            return QStringLiteral("%1 reaches out of %2").arg(name, holder->objectName());
    return QString();
}

// The labels of `window` on show that do not hold their text as they stand (as a picture taken now shows
// them), one line each.
inline QStringList cutNow(const QWidget& window)
{
    QStringList cut;
    for (const QLabel* label : window.findChildren<QLabel*>())
        if (label->isVisibleTo(&window) && !label->text().isEmpty())
            if (const QString p = problem(*label, window); !p.isEmpty())
                cut << p;
    return cut;
}

// The same once pending layouts are done.
inline QStringList cutLabels(const QWidget& window)
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
    return cutNow(window);
}

} // namespace LabelFit

// Fails the test with the labels of `window` that are cut once what is pending (a window growing) is done.
#define VERIFY_LABELS_FIT(window)                                                                          \
    do {                                                                                                   \
        (void)QTest::qWaitFor([&] { return LabelFit::cutLabels(window).isEmpty(); }, 5000);                 \
        const QStringList cut = LabelFit::cutLabels(window);                                              \
        QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));                               \
    } while (false)
