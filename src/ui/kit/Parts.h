#pragma once

#include <QFrame>
#include <QString>

class QLabel;
class QPushButton;
class QScrollArea;
class QVBoxLayout;
class QWidget;
class StatusLabel;

// Small pieces the windows and pages build themselves from, made one way everywhere.
namespace Parts {
// A horizontal rule; a plain one is drawn in the palette's mid colour.
QFrame* divider(QWidget* parent, QFrame::Shadow shadow = QFrame::Plain);
// A bold label, `larger` points over the font it would have.
QLabel* heading(const QString& text, QWidget* parent, qreal larger = 0);
// A button that never takes Return as the dialog's default.
QPushButton* button(const char* name, const QString& label, QWidget* parent);
// A wrapping label in a theme role ("secondary", …; empty for the text colour), `sizeStep` points off the font.
StatusLabel* text(const QString& role, int sizeStep, QWidget* parent, const QString& content = QString());
// The small grey note under a control.
StatusLabel* caption(const QString& content, QWidget* parent);
// A frameless area that grows its content to its width and scrolls only up and down.
QScrollArea* verticalScroll(QWidget* parent);
// Lays `content` out to fill `outer`, `margin` pixels in from its edges.
QVBoxLayout* fill(QWidget& outer, QWidget* content, int margin = 0);
// Fills `page` with a vertical scroll over a column `margin` pixels in, `spacing` apart; the column.
QVBoxLayout* scrollingColumn(QWidget& page, int margin, int spacing);
} // namespace Parts
