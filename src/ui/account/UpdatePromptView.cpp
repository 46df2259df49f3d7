#include "ui/account/UpdatePromptView.h"

#include "ui/kit/Parts.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/SymbolNote.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QTimer>

namespace {
// A softly filled rounded box behind the notes.
class NotesBox : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Theme::faded(QString(), 0.045));
        painter.drawRoundedRect(QRectF(rect()), 9, 9);
    }
};

// A small dot in the accent colour.
QLabel* bullet(QWidget* parent)
{
    QPixmap dot(10, 10);
    dot.setDevicePixelRatio(2);
    dot.fill(Qt::transparent);
    QPainter painter(&dot);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Theme::color(QStringLiteral("accent")));
    painter.drawEllipse(QRectF(0, 0, 5, 5));
    painter.end();
    auto* label = new QLabel(parent);
    label->setPixmap(dot);
    label->setFixedSize(5, 5);
    return label;
}

QWidget* noteList(const QStringList& notes)
{
    auto* list = new QWidget;
    list->setObjectName(QStringLiteral("noteList"));
    auto* rows = new QVBoxLayout(list);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(5);
    for (const QString& note : notes) {
        auto* text = new StatusLabel(QString(), list);
        text->setObjectName(QStringLiteral("note"));
        text->setSizeStep(-1);
        text->setText(note);
        // The dot sits beside the first line, a little above its middle.
        auto* dotColumn = new QVBoxLayout;
        dotColumn->setContentsMargins(0, std::max(0, text->fontMetrics().height() / 2 - 4), 0, 0);
        dotColumn->addWidget(bullet(list));
        dotColumn->addStretch();
        auto* row = new QHBoxLayout;
        row->setSpacing(7);
        row->addLayout(dotColumn);
        row->addWidget(text, 1);
        rows->addLayout(row);
    }
    rows->addStretch();
    return list;
}
} // namespace

UpdatePromptView::UpdatePromptView(Updater& updater, QWidget* parent)
    : QWidget(parent), updater(updater), titleLabel(new QLabel(this)), notesBox(new NotesBox(this)),
      failure(new SymbolNote(QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("orange"), this)),
      laterButton(new QPushButton(QStringLiteral("稍后"), this)),
      installButton(new QPushButton(QStringLiteral("立即更新"), this))
{
    setObjectName(QStringLiteral("updatePrompt"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 20, 20, 20);
    column->setSpacing(14);

    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    auto* icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("appIcon"));
    icon->setPixmap(Symbols::pixmap(Symbols::appIcon(), 48));
    icon->setFixedSize(48, 48);
    icon->setScaledContents(true);
    header->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->setSpacing(3);
    titleLabel->setObjectName(QStringLiteral("title"));
    titleLabel->setTextFormat(Qt::PlainText);
    QFont headline = titleLabel->font();
    headline.setBold(true);
    headline.setPointSizeF(headline.pointSizeF() + 1);
    titleLabel->setFont(headline);
    words->addWidget(titleLabel);
    auto* explanation = new StatusLabel(QStringLiteral("secondary"), this);
    explanation->setObjectName(QStringLiteral("explanation"));
    explanation->setSizeStep(-1);
    explanation->setText(QStringLiteral("更新只要几秒：tarnel 自动退出、换好、重新打开，服务器和设置都保留。"
                                        "已经过 SHA-256、版本号、代码签名三道校验。"));
    words->addWidget(explanation);
    header->addLayout(words, 1);
    column->addLayout(header);

    notesBox->setObjectName(QStringLiteral("notesBox"));
    auto* box = new QVBoxLayout(notesBox);
    box->setContentsMargins(12, 12, 12, 12);
    box->setSpacing(6);
    auto* heading = new QLabel(QStringLiteral("这次更新了"), notesBox);
    QFont semibold = heading->font();
    semibold.setWeight(QFont::DemiBold);
    semibold.setPointSizeF(semibold.pointSizeF() - 0.5);
    heading->setFont(semibold);
    box->addWidget(heading);
    notesHolder = new QVBoxLayout;
    notesHolder->setContentsMargins(0, 0, 0, 0);
    box->addLayout(notesHolder);
    column->addWidget(notesBox);

    failure->setObjectName(QStringLiteral("failure"));
    column->addWidget(failure);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addStretch();
    laterButton->setObjectName(QStringLiteral("laterButton"));
    installButton->setObjectName(QStringLiteral("installButton"));
    installButton->setDefault(true);
    installButton->setAutoDefault(true);
    for (QPushButton* button : {laterButton, installButton})
        button->setMinimumHeight(30);
    buttons->addWidget(laterButton);
    buttons->addWidget(installButton);
    column->addLayout(buttons);

    connect(laterButton, &QPushButton::clicked, this, [this] { this->updater.later(); });
    connect(installButton, &QPushButton::clicked, this, [this] { this->updater.installNow(); });
    connect(&updater, &Updater::changed, this, [this] { QTimer::singleShot(0, this, &UpdatePromptView::refresh); });
    setFixedWidth(440);
    refresh();
}

QString UpdatePromptView::title(const Updater::Phase& phase)
{
    // A failed installation keeps the version it was about to install.
    const bool staged = phase.kind == Updater::Phase::Kind::ready || phase.kind == Updater::Phase::Kind::failed;
    const QString version = staged ? phase.version : QString();
    return QStringLiteral("新版本 ") + version + QStringLiteral(" 已下载好");
}

bool UpdatePromptView::showsNotes(const Updater::Phase& phase)
{
    return phase.kind == Updater::Phase::Kind::ready && !phase.notes.isEmpty();
}

bool UpdatePromptView::notesScroll(const Updater::Phase& phase) { return showsNotes(phase) && phase.notes.size() >= 8; }

void UpdatePromptView::refresh()
{
    const Updater::Phase& phase = updater.phase();
    titleLabel->setText(title(phase));
    notesBox->setVisible(showsNotes(phase));
    if (showsNotes(phase))
        rebuildNotes(phase.notes, notesScroll(phase));
    failure->setVisible(phase.kind == Updater::Phase::Kind::failed);
    failure->setText(phase.message);
    adjustSize();
    if (window() != this)
        window()->adjustSize();
}

void UpdatePromptView::rebuildNotes(const QStringList& notes, bool scroll)
{
    if (notes == shownNotes && scroll == shownScroll && notesHolder->count() > 0)
        return;
    shownNotes = notes;
    shownScroll = scroll;
    while (QLayoutItem* item = notesHolder->takeAt(0)) {
        delete item->widget();
        delete item;
    }
    QWidget* list = noteList(notes);
    if (!scroll) {
        notesHolder->addWidget(list);
        list->show();
        return;
    }
    auto* area = Parts::verticalScroll(nullptr);
    area->setObjectName(QStringLiteral("notesScroll"));
    area->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    area->setFixedHeight(notesScrollHeight());
    area->viewport()->setAutoFillBackground(false);
    list->setAutoFillBackground(false);
    area->setWidget(list);
    notesHolder->addWidget(area);
    area->show();
}
