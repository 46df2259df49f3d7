#include "ui/panel/ScriptSheet.h"

#include "app/AppState.h"
#include "ui/kit/Parts.h"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

ScriptSheet::ScriptSheet(AppState& app, const QString& title, std::function<QString()> source, int textHeight,
    Buttons buttons, QWidget* parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("scriptSheet"));
    setWindowTitle(QStringLiteral("脚本"));
    setWindowModality(Qt::WindowModal);
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(16, 16, 16, 16);
    stack->setSpacing(buttons == Buttons::atRight ? 10 : 8);

    QLabel* heading = Parts::heading(title, this);
    heading->setObjectName(QStringLiteral("scriptTitle"));
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    heading->setMaximumWidth(640);
    stack->addWidget(heading);

    view = new QPlainTextEdit(this);
    view->setObjectName(QStringLiteral("scriptText"));
    view->setReadOnly(true);
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSize(11);
    view->setFont(mono);
    view->setFixedSize(640, textHeight);
    view->setPlainText(source());
    stack->addWidget(view);

    auto* row = new QHBoxLayout;
    copy = new QPushButton(QStringLiteral("复制脚本"), this);
    copy->setObjectName(QStringLiteral("copyScriptButton"));
    copy->setAutoDefault(false);
    auto* close = new QPushButton(QStringLiteral("关闭"), this);
    close->setObjectName(QStringLiteral("closeScriptButton"));
    close->setAutoDefault(false);
    if (buttons == Buttons::atRight) {
        row->setSpacing(10);
        row->addStretch(1);
        row->addWidget(copy);
    } else {
        row->addWidget(copy);
        row->addStretch(1);
    }
    row->addWidget(close);
    stack->addLayout(row);

    AppState* hub = &app;
    connect(copy, &QPushButton::clicked, this, [hub, source] { hub->copyPath(source(), QStringLiteral("脚本")); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
}
