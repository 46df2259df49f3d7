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
    ScriptSheet(AppState& app, const QString& title, std::function<QString()> source, int textHeight,
        QWidget* parent);

    QPlainTextEdit* textView() const { return view; }
    QPushButton* copyButton() const { return copy; }

private:
    QPlainTextEdit* view;
    QPushButton* copy;
};
