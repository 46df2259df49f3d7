#include "ui/onboarding/StepBox.h"

#include "ui/kit/Theme.h"

#include <QGraphicsOpacityEffect>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QVBoxLayout>

class StepBox::Badge : public QWidget {
public:
    explicit Badge(QWidget* parent) : QWidget(parent) { setFixedSize(26, 26); }
    QString text;
    QString role;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::color(role));
        p.drawEllipse(rect());
        QFont bold = font();
        bold.setBold(true);
        bold.setPixelSize(13);
        p.setFont(bold);
        p.setPen(Qt::white);
        p.drawText(rect(), Qt::AlignCenter, text);
    }
};

StepBox::StepBox(int number, QWidget* parent) : QFrame(parent), number(number)
{
    setObjectName(QStringLiteral("step%1").arg(number));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);
    badge = new Badge(this);
    row->addWidget(badge, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(8);
    heading = new QLabel(this);
    heading->setObjectName(QStringLiteral("step%1Title").arg(number));
    heading->setTextFormat(Qt::PlainText);
    heading->setWordWrap(true);
    QFont font = heading->font();
    font.setPointSizeF(font.pointSizeF() + 2);
    font.setWeight(QFont::DemiBold);
    heading->setFont(font);
    column->addWidget(heading);
    contentArea = new QWidget(this);
    body = new QVBoxLayout(contentArea);
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(8);
    column->addWidget(contentArea);
    row->addLayout(column, 1);
    fade = new QGraphicsOpacityEffect(this);
    fade->setOpacity(0.6);
    setGraphicsEffect(fade);
    setState(false, false, true);
}

void StepBox::setTitle(const QString& title) { heading->setText(title); }

QString StepBox::title() const { return heading->text(); }

void StepBox::setState(bool done, bool active, bool expanded)
{
    isDone = done;
    isActive = active;
    isExpanded = expanded;
    badge->text = done ? QStringLiteral("✓") : QString::number(number);
    badge->role = done ? QStringLiteral("green") : active ? QStringLiteral("accent") : QStringLiteral("tertiary");
    badge->update();
    Theme::applyTextRole(*heading, expanded ? QString() : QStringLiteral("secondary"));
    contentArea->setVisible(expanded);
    fade->setEnabled(!expanded); // drawn straight when expanded: the effect would only cost a buffer
    update();
}

qreal StepBox::opacity() const { return fade->isEnabled() ? fade->opacity() : 1.0; }

void StepBox::paintEvent(QPaintEvent* event)
{
    if (isActive) {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(Theme::faded(QStringLiteral("accent"), 0.07));
        p.drawRoundedRect(QRectF(rect()), 10, 10);
    }
    QFrame::paintEvent(event);
}
