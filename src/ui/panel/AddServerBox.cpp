#include "ui/panel/AddServerBox.h"

#include "delivery/SSHConfig.h"
#include "delivery/SessionDetector.h"
#include "platform/ProcessRunner.h"
#include "servers/ServerRegistry.h"
#include "servers/ServersPageState.h"
#include "ui/kit/OnScreen.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"
#include "ui/panel/ServersPageModel.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>
#include <unistd.h>

namespace {
const QString hint = QStringLiteral("粘上地址点「连接」就行，登录名会自动找；平时怎么 ssh 它，现在就怎么能连上。");
}

AddServerBox::AddServerBox(ServerRegistry& registry, ServersPageState& page, bool autoFocus, QWidget* parent)
    : QWidget(parent), registry(registry), page(page), autoFocus(autoFocus)
{
    setObjectName(QStringLiteral("addServerBox"));
    scanner = [] { return SessionDetector::activeSessions(getpid(), SSHConfig::path()); };
    scanTimer.setSingleShot(true);
    scanTimer.setInterval(defaultScanIntervalMs);
    connect(&scanTimer, &QTimer::timeout, this, &AddServerBox::startScan);
    onScreen = new OnScreen(*this, [this](bool shown) { followScreen(shown); });

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(8);

    auto* row = new QHBoxLayout;
    address = new QLineEdit(this);
    address->setObjectName(QStringLiteral("addressField"));
    address->setPlaceholderText(QStringLiteral("服务器地址，如 10.0.0.8 或 root@10.0.0.8"));
    address->setClearButtonEnabled(true);
    connectNow = new QPushButton(QStringLiteral("连接"), this);
    connectNow->setObjectName(QStringLiteral("connectButton"));
    connectNow->setEnabled(false);
    row->addWidget(address, 1);
    row->addWidget(connectNow);
    stack->addLayout(row);

    line = new StatusLabel(QStringLiteral("secondary"), this);
    line->setObjectName(QStringLiteral("addHint"));
    line->setSizeStep(-2);
    line->setText(hint);
    stack->addWidget(line);

    chipRow = new QWidget(this);
    chipRow->setObjectName(QStringLiteral("sessionChips"));
    chips = new QHBoxLayout(chipRow);
    chips->setContentsMargins(0, 0, 0, 0);
    chips->setSpacing(8);
    chipRow->hide();
    stack->addWidget(chipRow);

    connect(address, &QLineEdit::textChanged, this, [this](const QString& text) {
        connectNow->setEnabled(ServersPageModel::canConnect(text));
        this->page.setInputError(std::nullopt);
    });
    connect(address, &QLineEdit::returnPressed, this, &AddServerBox::connectTyped);
    connect(connectNow, &QPushButton::clicked, this, &AddServerBox::connectTyped);
}

bool AddServerBox::connectTyped()
{
    if (!ServersPageModel::canConnect(address->text()))
        return false;
    // The registry trims the text itself; it gets it as typed.
    if (page.add(address->text()))
        address->clear();
    refresh();
    return true;
}

void AddServerBox::refresh()
{
    if (const auto error = page.inputError()) {
        line->setColorRole(QStringLiteral("red"));
        line->setText(QStringLiteral("⚠ ") + *error);
    } else {
        line->setColorRole(QStringLiteral("secondary"));
        line->setText(hint);
    }
    const QList<SSHSession> offered = ServersPageModel::suggestions(live, registry.servers());
    if (offered != shown)
        rebuildChips(offered);
}

void AddServerBox::rebuildChips(const QList<SSHSession>& offered)
{
    shown = offered;
    while (QLayoutItem* item = chips->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    chipRow->setVisible(!offered.isEmpty());
    if (offered.isEmpty()) {
        Parts::settle(*this);
        return;
    }
    auto* lead = new QWidget(chipRow);
    auto* leadRow = new QHBoxLayout(lead);
    leadRow->setContentsMargins(0, 0, 0, 0);
    leadRow->setSpacing(4);
    auto* label = new StatusLabel(QStringLiteral("secondary"), lead);
    label->setSizeStep(-2);
    label->setWordWrap(false);
    label->setText(QStringLiteral("检测到你正在连着："));
    auto* terminal = new QLabel(lead);
    terminal->setObjectName(QStringLiteral("sessionsSymbol"));
    const int side = label->fontMetrics().height();
    terminal->setPixmap(Symbols::tinted(QStringLiteral("terminal"), side, Theme::color(QStringLiteral("secondary"))));
    leadRow->addWidget(terminal);
    leadRow->addWidget(label);
    chips->addWidget(lead);
    lead->show();
    const QColor accent = Theme::color(QStringLiteral("accent"));
    for (const SSHSession& session : offered) {
        const QString text = session.address();
        auto* chip = new QToolButton(chipRow);
        chip->setObjectName(QStringLiteral("sessionChip"));
        chip->setProperty("address", text);
        chip->setText(QStringLiteral("⊕ ") + text);
        chip->setToolTip(QStringLiteral("把 ") + text + QStringLiteral(" 加进来并连接"));
        chip->setAutoRaise(true);
        chip->setCursor(Qt::PointingHandCursor);
        chip->setStyleSheet(QStringLiteral("QToolButton { color: %1; background: %2; border-radius: 9px; padding: 3px 8px; }")
                                .arg(accent.name(), Theme::faded(QStringLiteral("accent"), 0.12).name(QColor::HexArgb)));
        connect(chip, &QToolButton::clicked, this, [this, text] {
            page.add(text);
            refresh();
        });
        chips->addWidget(chip);
        chip->show();
    }
    chips->addStretch(1);
    Parts::settle(*chipRow);
}

void AddServerBox::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (autoFocus)
        address->setFocus();
}

void AddServerBox::followScreen(bool shown)
{
    if (shown) {
        if (!scanning && !scanTimer.isActive())
            startScan();
        return;
    }
    scanTimer.stop();
    ++scanGeneration;
    scanning = false;
}

void AddServerBox::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // A hidden window keeps what was typed (the user may be copying the address elsewhere); leaving the
    // page does not.
    if (window()->isVisible())
        clear();
}

void AddServerBox::clear()
{
    address->clear();
    page.setInputError(std::nullopt);
    live.clear();
    refresh();
}

void AddServerBox::startScan()
{
    if (!onScreen->now())
        return;
    scanning = true;
    const quint64 generation = ++scanGeneration;
    QtConcurrent::run(ProcessRunner::pool(), scanner).then(this, [this, generation](const QList<SSHSession>& found) {
        if (generation != scanGeneration)
            return; // hidden meanwhile: the result goes with the old scan
        scanning = false;
        if (found != live) {
            live = found;
            refresh();
        }
        scanTimer.start();
        Q_EMIT scanned();
    });
}
