#pragma once

#include <QDialog>
#include <functional>

class AppState;
class QPlainTextEdit;
class QPushButton;

// Shows a script that runs on a destination, read-only in a monospaced font, with "复制脚本" and "关闭"
// (Escape). The text comes from `source`, asked again for the copy so both always agree.
class ScriptSheet : public QDialog {
    Q_OBJECT
public:
    // Where the two buttons sit: "复制脚本" at the left and "关闭" at the right, or both at the right
    // (then the rows are 10 apart, not 8).
    enum class Buttons { apart, atRight };

    ScriptSheet(AppState& app, const QString& title, std::function<QString()> source, int textHeight,
        Buttons buttons, QWidget* parent);

    QPlainTextEdit* textView() const { return view; }
    QPushButton* copyButton() const { return copy; }

private:
    QPlainTextEdit* view;
    QPushButton* copy;
};
