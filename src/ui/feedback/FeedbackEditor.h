#pragma once

#include <QMimeData>
#include <QPlainTextEdit>

// The report's text box: plain text, and images or image files pasted or dropped into it are handed on
// as attachments instead of being inserted as text.
class FeedbackEditor : public QPlainTextEdit {
    Q_OBJECT
public:
    explicit FeedbackEditor(QWidget* parent = nullptr);

Q_SIGNALS:
    void imagesOffered(const QMimeData* mime);

protected:
    bool canInsertFromMimeData(const QMimeData* source) const override;
    void insertFromMimeData(const QMimeData* source) override;
};
