#include "ui/panel/PasswordPrompt.h"

#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

PasswordPrompt::PasswordPrompt(const QString& title, QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("passwordPrompt"));
    setWindowTitle(QStringLiteral("输入密码"));
    setWindowModality(Qt::WindowModal);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(20, 20, 20, 20);
    stack->setSpacing(12);

    QLabel* heading = Parts::heading(title, this);
    heading->setObjectName(QStringLiteral("promptTitle"));
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    stack->addWidget(heading);

    password = new QLineEdit(this);
    password->setObjectName(QStringLiteral("passwordField"));
    password->setEchoMode(QLineEdit::Password);
    password->setPlaceholderText(QStringLiteral("密码"));
    password->setFixedWidth(320);
    stack->addWidget(password);

    auto* note = new StatusLabel(QStringLiteral("secondary"), this);
    note->setSizeStep(-2);
    note->setText(QStringLiteral("密码只用这一次，不保存、不进日志。"));
    stack->addWidget(note);

    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* cancel = new QPushButton(QStringLiteral("取消"), this);
    cancel->setObjectName(QStringLiteral("cancelButton"));
    cancel->setAutoDefault(false);
    proceed = new QPushButton(QStringLiteral("继续"), this);
    proceed->setObjectName(QStringLiteral("continueButton"));
    proceed->setDefault(true);
    proceed->setEnabled(false);
    row->addWidget(cancel);
    row->addWidget(proceed);
    stack->addLayout(row);

    connect(password, &QLineEdit::textChanged, this, [this](const QString& text) { proceed->setEnabled(!text.isEmpty()); });
    connect(cancel, &QPushButton::clicked, this, &PasswordPrompt::reject);
    connect(proceed, &QPushButton::clicked, this, &PasswordPrompt::submit);
    password->setFocus();
}

void PasswordPrompt::reject() { Q_EMIT answered(std::nullopt); }

void PasswordPrompt::submit()
{
    if (password->text().isEmpty())
        return;
    // The field is empty before the text is handed over: the prompt holds no password afterwards.
    const QString taken = password->text();
    password->clear();
    Q_EMIT answered(taken);
}
