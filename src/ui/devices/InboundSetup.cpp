#include "ui/devices/InboundSetup.h"

#include "ui/devices/DeviceRow.h"
#include "ui/kit/FilledPanel.h"
#include "ui/kit/KeyedWidgetList.h"
#include "ui/kit/Parts.h"
#include "ui/kit/StatusDot.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace {
FilledPanel* tintedPanel(const QString& role, double fill, double edge, QWidget* parent)
{
    auto* panel = new FilledPanel(10, parent);
    panel->setProperty("colorRole", role);
    panel->setFill(Theme::faded(role, fill));
    panel->setEdge(Theme::faded(role, edge));
    return panel;
}

QLabel* semibold(QWidget* parent)
{
    auto* label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    QFont f = label->font();
    f.setBold(true);
    label->setFont(f);
    return label;
}

StatusDot* stepDot(QWidget* parent)
{
    auto* dot = new StatusDot(10, parent);
    return dot;
}

// One machine of step two.
class KeyRowWidget : public DeviceRow {
public:
    KeyRowWidget() : KeyRowWidget(new QLabel) {}
    void set(const DevicesPageModel::KeyRow& r)
    {
        mark->setPixmap(r.allowed ? Symbols::tinted(QStringLiteral("checkmark.circle.fill"), 14, Theme::color(QStringLiteral("green")))
                                  : Symbols::tinted(QStringLiteral("circle"), 14, Theme::color(QStringLiteral("secondary"))));
        name->setText(r.peer.shownName());
        state->setText(r.state);
        button->setText(r.button);
    }

private:
    explicit KeyRowWidget(QLabel* mark) : DeviceRow(mark, 0, "", "keyRowButton"), mark(mark) {}

    QLabel* mark;
};
} // namespace

InboundSetup::InboundSetup(QWidget* parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("inboundSetup"));
    // One face at a time, each at its own height.
    auto* faces = new QVBoxLayout(this);
    faces->setContentsMargins(0, 0, 0, 0);
    summary = buildSummary();
    steps = buildSteps();
    faces->addWidget(summary);
    faces->addWidget(steps);
}

QWidget* InboundSetup::buildSummary()
{
    auto* panel = tintedPanel(QStringLiteral("green"), 0.08, 0.35, this);
    panel->setObjectName(QStringLiteral("setupSummary"));
    auto* row = new QHBoxLayout(panel);
    row->setContentsMargins(12, 10, 12, 10);
    row->setSpacing(8);
    auto* check = new QLabel(panel);
    check->setPixmap(Symbols::tinted(QStringLiteral("checkmark.circle.fill"), 16, Theme::color(QStringLiteral("green"))));
    row->addWidget(check);
    summaryText = new StatusLabel(QString(), panel);
    summaryText->setObjectName(QStringLiteral("setupSummaryText"));
    summaryText->setSizeStep(-1);
    row->addWidget(summaryText, 1);
    details = Parts::button("setupDetailsButton", QStringLiteral("详情"), panel);
    connect(details, &QPushButton::clicked, this, [this] {
        if (onExpand)
            onExpand(true);
    });
    row->addWidget(details);
    return panel;
}

QWidget* InboundSetup::buildSteps()
{
    auto* panel = tintedPanel(QStringLiteral("yellow"), 0.10, 0.5, this);
    panel->setObjectName(QStringLiteral("setupSteps"));
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(14, 12, 14, 12);
    column->setSpacing(12);

    auto* top = new QHBoxLayout;
    header = semibold(panel);
    header->setObjectName(QStringLiteral("setupHeader"));
    top->addWidget(header, 1);
    fold = Parts::button("setupFoldButton", QStringLiteral("收起"), panel);
    connect(fold, &QPushButton::clicked, this, [this] {
        if (onExpand)
            onExpand(false);
    });
    top->addWidget(fold, 0, Qt::AlignTop);
    column->addLayout(top);

    auto* one = new QHBoxLayout;
    one->setSpacing(10);
    oneDot = stepDot(panel);
    oneDot->setObjectName(QStringLiteral("stepOneDot"));
    one->addWidget(oneDot, 0, Qt::AlignTop);
    auto* oneColumn = new QVBoxLayout;
    oneColumn->setSpacing(4);
    oneTitle = semibold(panel);
    oneTitle->setObjectName(QStringLiteral("stepOneTitle"));
    oneColumn->addWidget(oneTitle);
    oneText = new StatusLabel(QStringLiteral("secondary"), panel);
    oneText->setObjectName(QStringLiteral("stepOneText"));
    oneText->setSizeStep(-2);
    oneText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    oneColumn->addWidget(oneText);
    one->addLayout(oneColumn, 1);
    stepOne = Parts::button("stepOneButton", QString(), panel);
    connect(stepOne, &QPushButton::clicked, this, [this] {
        if (onStepOne)
            onStepOne();
    });
    one->addWidget(stepOne, 0, Qt::AlignTop);
    column->addLayout(one);

    column->addWidget(Parts::divider(panel));

    auto* two = new QHBoxLayout;
    two->setSpacing(10);
    twoDot = stepDot(panel);
    twoDot->setObjectName(QStringLiteral("stepTwoDot"));
    two->addWidget(twoDot, 0, Qt::AlignTop);
    auto* twoColumn = new QVBoxLayout;
    twoColumn->setSpacing(6);
    twoTitle = semibold(panel);
    twoTitle->setObjectName(QStringLiteral("stepTwoTitle"));
    twoColumn->addWidget(twoTitle);
    auto* twoText = new StatusLabel(QStringLiteral("secondary"), panel);
    twoText->setSizeStep(-2);
    twoText->setText(DevicesPageModel::stepTwoText());
    twoColumn->addWidget(twoText);
    rows = new KeyedWidgetList([this](const QString& key) -> QWidget* {
        auto* row = new KeyRowWidget;
        connect(row->button, &QPushButton::clicked, this, [this, key] {
            for (const PeerDevice& p : std::as_const(rowPeers))
                if (p.id == key && onAddKey)
                    onAddKey(p);
        });
        return row;
    }, panel);
    rows->setObjectName(QStringLiteral("keyRows"));
    rows->setSpacing(6);
    twoColumn->addWidget(rows);
    missing = new StatusLabel(QStringLiteral("orange"), panel);
    missing->setObjectName(QStringLiteral("stepTwoMissing"));
    missing->setSizeStep(-2);
    twoColumn->addWidget(missing);
    two->addLayout(twoColumn, 1);
    column->addLayout(two);
    return panel;
}

void InboundSetup::refresh(const DevicesPageModel& model, bool expanded)
{
    const bool complete = model.wizardComplete();
    summary->setVisible(complete && !expanded);
    steps->setVisible(!(complete && !expanded));
    summaryText->setText(model.doneSummary());
    header->setText(model.wizardHeader());
    fold->setVisible(complete);

    oneDot->setColorRole(model.stepOneDot());
    oneTitle->setText(model.stepOneTitle());
    oneText->setText(model.stepOneText());
    const QString button = model.stepOneButton();
    stepOne->setText(button);
    stepOne->setVisible(!button.isEmpty());
    stepOne->setProperty("pageDefault", model.stepOneDot() == QLatin1String("orange"));

    const QString two = model.stepTwoDot();
    twoDot->setColorRole(two == QLatin1String("gray") ? QStringLiteral("tertiary") : two);
    twoTitle->setText(model.stepTwoTitle());
    const auto list = model.keyRows();
    rowPeers.clear();
    QStringList keys;
    for (const auto& r : list) {
        keys << r.peer.id;
        rowPeers << r.peer;
    }
    rows->setKeys(keys);
    for (const auto& r : list)
        if (auto* w = static_cast<KeyRowWidget*>(rows->widget(r.peer.id)))
            w->set(r);
    rows->setVisible(!list.isEmpty());
    const auto lack = model.stepTwoMissing();
    missing->setVisible(lack.has_value());
    missing->setText(lack.value_or(QString()));
}

bool InboundSetup::showsSummary() const { return !summary->isHidden(); }

QPushButton* InboundSetup::keyButton(const QString& peerID) const
{
    QWidget* row = rows->widget(peerID);
    return row ? row->findChild<QPushButton*>(QStringLiteral("keyRowButton")) : nullptr;
}
