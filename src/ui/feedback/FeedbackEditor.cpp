#include "ui/feedback/FeedbackEditor.h"

#include "ui/feedback/AttachmentArea.h"
#include "ui/kit/Theme.h"


FeedbackEditor::FeedbackEditor(QWidget* parent) : QPlainTextEdit(parent)
{
    // Drawn on the box that holds it: no frame and no background of its own.
    setFrameShape(QFrame::NoFrame);
    viewport()->setAutoFillBackground(false);
    document()->setDocumentMargin(4);
    QPalette p = palette();
    p.setColor(QPalette::PlaceholderText, Theme::color(QStringLiteral("tertiary")));
    p.setColor(QPalette::Base, Qt::transparent);
    setPalette(p);
}

bool FeedbackEditor::canInsertFromMimeData(const QMimeData* source) const
{
    return AttachmentArea::offersImages(source) || QPlainTextEdit::canInsertFromMimeData(source);
}

void FeedbackEditor::insertFromMimeData(const QMimeData* source)
{
    if (AttachmentArea::offersImages(source))
        Q_EMIT imagesOffered(source);
    else
        QPlainTextEdit::insertFromMimeData(source);
}
