#include "ui/panel/PanelHeader.h"

#include "app/AppState.h"
#include "capture/ClipboardWatcher.h"
#include "capture/ShotStore.h"
#include "servers/ServerRegistry.h"
#include "state/Paths.h"
#include "ui/kit/SegmentedControl.h"
#include "ui/kit/StatusDot.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"
#include "ui/panel/PanelModel.h"
#include "ui/panel/PasteHint.h"

#include <QDir>
#include <QHBoxLayout>
#include <QStackedWidget>
#include <QToolButton>

namespace {
constexpr int pickerWidth = 290;

QHBoxLayout* bareRow(QWidget* owner, int spacing)
{
    auto* row = new QHBoxLayout(owner);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(spacing);
    return row;
}

StatusLabel* headline(const QString& role, QWidget* parent)
{
    auto* label = new StatusLabel(role, parent);
    label->setWordWrap(false);
    QFont f = label->font();
    f.setPointSizeF(f.pointSizeF() + 1);
    f.setWeight(QFont::DemiBold);
    label->setFont(f);
    return label;
}

// Small controls: the header holds many of them in one row.
QFont small(QFont font)
{
    font.setPointSizeF(std::max(6.0, font.pointSizeF() - 0.5));
    return font;
}

QToolButton* plainButton(const char* name, const QString& text, QWidget* parent)
{
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setText(text);
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setAutoRaise(true);
    button->setFont(small(button->font()));
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}
} // namespace

PanelHeader::PanelHeader(PanelContext context, QWidget* parent) : QWidget(parent), context(context)
{
    setObjectName(QStringLiteral("panelHeader"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(14, 10, 14, 10);
    row->setSpacing(10);

    picker = new SegmentedControl(3, this);
    picker->setObjectName(QStringLiteral("pagePicker"));
    picker->setFixedWidth(pickerWidth);
    connect(picker, &SegmentedControl::activated, this, [this](int index) { this->context.app.setPanelTab(PanelTab(index)); });
    row->addWidget(picker);

    status = new QStackedWidget(this);
    status->addWidget(buildShotsStatus());
    status->addWidget(buildServersStatus());
    status->addWidget(buildDevicesStatus());
    row->addWidget(status, 1);

    QToolButton* help = iconButton("onboardingButton", QStringLiteral("questionmark.circle"), QStringLiteral("再看一遍引导"));
    connect(help, &QToolButton::clicked, this, [this] {
        if (this->context.app.openOnboarding)
            this->context.app.openOnboarding();
    });
    QToolButton* feedback = iconButton("feedbackButton", QStringLiteral("bubble.left.and.exclamationmark.bubble.right"),
                                       QStringLiteral("反馈问题"));
    connect(feedback, &QToolButton::clicked, this, [this] {
        if (this->context.closePanel)
            this->context.closePanel();
        if (this->context.app.showFeedbackWindow)
            this->context.app.showFeedbackWindow();
    });
    QToolButton* settings = iconButton("settingsButton", QStringLiteral("gearshape"), QStringLiteral("设置"));
    connect(settings, &QToolButton::clicked, this, [this] {
        if (this->context.app.openSettings)
            this->context.app.openSettings();
    });
    // The buttons pad themselves: close together they leave the paste hint room for the chosen number.
    auto* icons = new QHBoxLayout;
    icons->setSpacing(2);
    for (QToolButton* button : {help, feedback, settings})
        icons->addWidget(button);
    row->addLayout(icons);
}

QToolButton* PanelHeader::iconButton(const char* name, const QString& symbol, const QString& tooltip)
{
    auto* button = new QToolButton(this);
    button->setObjectName(QString::fromLatin1(name));
    button->setIcon(Symbols::icon(symbol));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setToolTip(tooltip);
    button->setFocusPolicy(Qt::TabFocus);
    return button;
}

QWidget* PanelHeader::buildShotsStatus()
{
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("shotsStatus"));
    auto* row = bareRow(area, 8);
    dot = new StatusDot(9, area);
    dot->setObjectName(QStringLiteral("statusDot"));
    dot->setGlowing(true);
    statusText = headline(QStringLiteral("green"), area);
    statusText->setObjectName(QStringLiteral("statusText"));

    hint = new PasteHint(area);
    hint->setObjectName(QStringLiteral("pasteHint"));

    pauseButton = plainButton("pauseButton", QString(), area);
    connect(pauseButton, &QToolButton::clicked, this, [this] {
        this->context.app.setPaused(!this->context.app.shots().paused());
    });
    QToolButton* clear = plainButton("clearButton", QStringLiteral("🗑 清空全部"), area);
    Theme::applyTextRole(*clear, QStringLiteral("red"));
    clear->setToolTip(QStringLiteral("删掉本地和每台服务器上全部的截图（编号不重来）"));
    connect(clear, &QToolButton::clicked, this, [this] { this->context.app.clearAll(); });
    QToolButton* folder = plainButton("folderButton", QStringLiteral("📂 目录"), area);
    connect(folder, &QToolButton::clicked, this, &PanelHeader::openShotsFolder);

    row->addWidget(dot);
    row->addWidget(statusText);
    // The hint gives way first when the row is narrow.
    row->addWidget(hint, 1);
    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(2);
    for (QToolButton* button : {pauseButton, clear, folder})
        buttons->addWidget(button);
    row->addLayout(buttons);
    return area;
}

QWidget* PanelHeader::buildServersStatus()
{
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("serversStatus"));
    auto* row = bareRow(area, 8);
    serversText = headline(QStringLiteral("secondary"), area);
    serversText->setObjectName(QStringLiteral("serversHeaderText"));
    QToolButton* recheck = plainButton("recheckAllButton", QStringLiteral("⟳ 重新连接全部"), area);
    connect(recheck, &QToolButton::clicked, this, [this] { this->context.app.registry().recheckAll(); });
    row->addWidget(serversText);
    row->addStretch(1);
    row->addWidget(recheck);
    return area;
}

QWidget* PanelHeader::buildDevicesStatus()
{
    auto* area = new QWidget(this);
    area->setObjectName(QStringLiteral("devicesStatus"));
    auto* row = bareRow(area, 8);
    devicesText = headline(QStringLiteral("secondary"), area);
    devicesText->setObjectName(QStringLiteral("devicesHeaderText"));
    row->addWidget(devicesText);
    row->addStretch(1);
    return area;
}

void PanelHeader::openShotsFolder()
{
    // Opened whether or not making it worked: the desktop says what is wrong.
    const QString folder = context.app.shots().shotsDirectory();
    Paths::ensure(folder);
    context.app.openPath(folder);
}

void PanelHeader::refresh(const PanelModel& model, PanelTab tab)
{
    for (PanelTab page : {PanelTab::shots, PanelTab::servers, PanelTab::devices})
        picker->setLabel(int(page), model.segmentLabel(page));
    picker->setCurrentIndex(int(tab));
    status->setCurrentIndex(int(tab));

    const StatusLook look = model.status();
    dot->setColorRole(look.role);
    statusText->setText(look.text);
    statusText->setColorRole(look.role);
    statusText->setToolTip(look.tooltip);
    const auto chosen = model.pasteHintChosen();
    hint->setTexts(model.pasteHintLead(), chosen.value_or(model.pasteHintLatest()), chosen.has_value(),
                   model.pasteHintShortForms());
    pauseButton->setText(model.pauseLabel());

    serversText->setText(model.serversHeader());
    devicesText->setText(model.devicesHeader());
}
