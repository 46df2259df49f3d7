#pragma once

#include <QDialog>
#include <functional>
#include <optional>

class QLineEdit;
class QPushButton;

// Asks once for a login password on a server. It only hands the text back (never stores or logs it) and
// does not close itself: the caller closes it when `answered` arrives, once per button press; none means
// the user cancelled (also Escape or closing the window).
class PasswordPrompt : public QDialog {
    Q_OBJECT
public:
    explicit PasswordPrompt(const QString& title, QWidget* parent = nullptr);

    QLineEdit* field() const { return password; }
    QPushButton* continueButton() const { return proceed; }

Q_SIGNALS:
    void answered(const std::optional<QString>& password);

public Q_SLOTS:
    void reject() override;

private:
    void submit();

    QLineEdit* password;
    QPushButton* proceed;
};
