#pragma once

#include <QFrame>

// One line of plain text that shortens itself with "…" (in the middle by default) when it gets less
// room than it needs; text() is always the whole text.
class ElidedLabel : public QFrame {
    Q_OBJECT
public:
    explicit ElidedLabel(Qt::TextElideMode mode = Qt::ElideMiddle, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const { return full; }
    // The text as drawn at the current width.
    QString shownText() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Qt::TextElideMode mode;
    QString full;
};
