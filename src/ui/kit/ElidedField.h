#pragma once

#include <QLineEdit>

// One line of selectable plain text, not editable, that shows "…" in the middle while it lacks room and
// is not in use. Focused (as soon as a click or drag starts) it holds the whole text, so what is selected
// and copied is always the real text.
class ElidedField : public QLineEdit {
    Q_OBJECT
public:
    explicit ElidedField(QWidget* parent = nullptr);

    void setFullText(const QString& text);
    QString fullText() const { return full; }

protected:
    void resizeEvent(QResizeEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void reshow();

    QString full;
};
