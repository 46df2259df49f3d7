#pragma once

#include <QFont>
#include <QFrame>
#include <QString>

class QHBoxLayout;
class QLabel;
class QMenu;
class QPushButton;
class QScrollArea;
class QToolButton;
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
// `text` for a wrapping label that breaks lines only at its blanks, never inside a word or between the
// characters of a Chinese phrase.
QString wrapOnlyAtBlanks(const QString& text);
// A row holding `widget` in its middle at the widget's own width: unlike a centring alignment, the height it
// asks of a column is that of a wrapping text at the widget's width, not at the column's.
QHBoxLayout* centred(QWidget* widget);
// A named grey label `sizeStep` points off the font, its text set later.
StatusLabel* note(const char* name, QWidget* parent, int sizeStep = -2);
// The system's fixed-width font at `points`.
QFont monospace(double points);
// The borderless "⋯" button that pops `menu` up.
QToolButton* menuButton(const char* name, QMenu* menu, QWidget* parent);
// A column holding `widget` at its top, `top` pixels down, for a row whose other items are taller.
QVBoxLayout* pinnedTop(QWidget* widget, int top);
// Fills `card` with the base colour inside a rounded outline `width` wide in a theme role ("separator"
// for the palette's mid colour).
void paintOutlinedCard(QWidget& card, const QString& role, qreal opacity, qreal width, qreal radius);
// A frameless area that grows its content to its width and scrolls only up and down.
QScrollArea* verticalScroll(QWidget* parent);
// Lays `content` out to fill `outer`, `margin` pixels in from its edges.
QVBoxLayout* fill(QWidget& outer, QWidget* content, int margin = 0);
// Fills `page` with a vertical scroll over a column `margin` pixels in, `spacing` apart; the column.
QVBoxLayout* scrollingColumn(QWidget& page, int margin, int spacing);
// Lays out `widget`, what it holds and every widget holding it up to its window, now. The event loop takes
// one pass per level, and a paint in between would show the rows below a grown one squeezed.
void settle(QWidget& widget);
} // namespace Parts
