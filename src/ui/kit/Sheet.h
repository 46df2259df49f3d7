#pragma once

#include <QDialog>

class QHBoxLayout;
class QLabel;
class QVBoxLayout;

// A window-modal sheet of a fixed width: a bold title over a column of content, buttons at the bottom right.
class Sheet : public QDialog {
    Q_OBJECT
protected:
    Sheet(const char* name, const QString& windowTitle, int width, QWidget* parent);

    // The bold title at the top of the column.
    QLabel* addTitle(const QString& text);
    // A row at the foot of the column that pushes what is added to it to the right.
    QHBoxLayout* addButtonRow();
    // Makes the sheet exactly as tall as its content laid out at the sheet's width (adjustSize() would
    // measure wrapped text at another width and leave blank bands).
    void fitHeight();

    QVBoxLayout* column;
};
