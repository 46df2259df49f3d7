#pragma once

#include <QWidget>

class QLabel;
class StatusLabel;

// A line of text led by a small symbol, both in one colour role: notices, errors, hints. Plain text.
class SymbolNote : public QWidget {
    Q_OBJECT
public:
    SymbolNote(const QString& symbol, const QString& role, QWidget* parent = nullptr);

    void setText(const QString& text);
    QString text() const;
    StatusLabel* label() const { return textLabel; }

private:
    QLabel* symbolLabel;
    StatusLabel* textLabel;
};
