#include "ui/feedback/FeedbackView.h"

#include "account/Account.h"
#include "account/FeedbackModel.h"
#include "account/MachineInfo.h"
#include "account/Updater.h"
#include "state/AppInfo.h"
#include "app/AppState.h"
#include "capture/ShotStore.h"
#include "delivery/HotkeySpec.h"
#include "servers/ServerRegistry.h"
#include "ui/feedback/AttachmentArea.h"
#include "ui/feedback/FeedbackEditor.h"
#include "ui/kit/BusyButton.h"
#include "ui/kit/StatusLabel.h"
#include "ui/kit/SymbolNote.h"
#include "ui/kit/Symbols.h"
#include "ui/kit/Theme.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QFileInfo>
#include <QFileDialog>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QShortcut>
#include <QStandardPaths>
#include <QStyleOptionButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int iconSide = 28;

// The rounded text-background box that holds the text editor, with a faint border drawn inside it.
class TextBox : public QWidget {
public:
    explicit TextBox(QWidget* parent) : QWidget(parent) {}

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        QPainterPath box;
        box.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 8, 8);
        p.fillPath(box, QApplication::palette().color(QPalette::Base));
        p.setPen(QPen(Theme::faded(QString(), 0.12), 1));
        p.drawPath(box);
    }
};

QString imageFilter()
{
    QStringList patterns;
    for (const QByteArray& format : QImageReader::supportedImageFormats())
        patterns.append(QStringLiteral("*.") + QString::fromLatin1(format));
    return QStringLiteral("图片 (%1)").arg(patterns.join(QLatin1Char(' ')));
}
} // namespace

FeedbackView::FeedbackView(AppState& app, FeedbackModel& model, QWidget* parent)
    : QWidget(parent), app(app), model(model), system(MachineInfo::system()), machine(MachineInfo::model()),
      memory(MachineInfo::memoryBytes())
{
    setObjectName(QStringLiteral("feedbackView"));
    chooseFiles = [this] { return chooseWithDialog(); };

    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(22, 22, 22, 22);
    root->setSpacing(14);

    // Header.
    auto* header = new QHBoxLayout;
    header->setSpacing(12);
    icon = new QLabel(this);
    icon->setObjectName(QStringLiteral("headerIcon"));
    icon->setFixedSize(iconSide, iconSide);
    auto* heading = new QVBoxLayout;
    heading->setSpacing(3);
    title = new QLabel(this);
    title->setObjectName(QStringLiteral("titleLabel"));
    title->setTextFormat(Qt::PlainText);
    QFont titleFont = title->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() + 5);
    titleFont.setBold(true);
    title->setFont(titleFont);
    subtitle = new StatusLabel(QStringLiteral("secondary"), this);
    subtitle->setObjectName(QStringLiteral("subtitleLabel"));
    subtitle->setSizeStep(-1);
    heading->addWidget(title);
    heading->addWidget(subtitle);
    header->addWidget(icon, 0, Qt::AlignVCenter);
    header->addLayout(heading, 1);
    root->addLayout(header);

    // Everything of the editing presentation, hidden as one when the report is sent.
    editing = new QWidget(this);
    editing->setObjectName(QStringLiteral("editingPart"));
    auto* form = new QVBoxLayout(editing);
    form->setContentsMargins(0, 0, 0, 0);
    form->setSpacing(14);

    auto* box = new TextBox(editing);
    box->setFixedHeight(150);
    editor = new FeedbackEditor(box);
    editor->setObjectName(QStringLiteral("textEditor"));
    editor->setPlaceholderText(QStringLiteral("比如：按 %1 没反应，托盘图标是亮着的…")
                                   .arg(HotkeySpec::parseOr(QStringLiteral("⌥⌘3"), QStringLiteral("⌥⌘3")).desktopText()));
    auto* boxLayout = new QVBoxLayout(box);
    boxLayout->setContentsMargins(4, 4, 4, 4);
    boxLayout->addWidget(editor);
    form->addWidget(box);
    connect(editor, &QPlainTextEdit::textChanged, this, [this] { this->model.setText(editor->toPlainText()); });
    connect(editor, &FeedbackEditor::imagesOffered, this,
            [this](const QMimeData* mime) { AttachmentArea::load(this->model, mime); });

    area = new AttachmentArea(model, editing);
    connect(area, &AttachmentArea::pickRequested, this, &FeedbackView::pick);
    connect(area, &AttachmentArea::newestShotRequested, this, &FeedbackView::attachNewestShot);
    form->addWidget(area);

    summary = new StatusLabel(QStringLiteral("secondary"), editing);
    summary->setObjectName(QStringLiteral("summaryLabel"));
    summary->setSizeStep(-2);
    form->addWidget(summary);

    auto* logPart = new QVBoxLayout;
    logPart->setSpacing(2);
    logBox = new QCheckBox(QStringLiteral("附上 tarnel 运行日志（最近 300 行），帮助更快解决问题"), editing);
    logBox->setObjectName(QStringLiteral("includeLogBox"));
    connect(logBox, &QCheckBox::toggled, this, [this](bool on) { this->model.setIncludeLog(on); });
    auto* logNote = new StatusLabel(QStringLiteral("secondary"), editing);
    logNote->setSizeStep(-2);
    logNote->setText(QStringLiteral("日志只记事件和文件名，不含图片内容、剪贴板文字、密码或服务器钥匙。"));
    // Under the checkbox's text, not under its box.
    QStyleOptionButton option;
    option.initFrom(logBox);
    const int indent = logBox->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, logBox).left();
    logNote->setContentsMargins(indent, 0, 0, 0);
    logPart->addWidget(logBox);
    logPart->addWidget(logNote);
    form->addLayout(logPart);

    errorLine = new SymbolNote(QStringLiteral("exclamationmark.circle.fill"), QStringLiteral("red"), editing);
    errorLine->setObjectName(QStringLiteral("errorLine"));
    form->addWidget(errorLine);
    root->addWidget(editing);
    root->addStretch(1);

    // Buttons at the right edge.
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    cancelButton = new QPushButton(QStringLiteral("取消"), this);
    cancelButton->setObjectName(QStringLiteral("cancelButton"));
    connect(cancelButton, &QPushButton::clicked, this, &FeedbackView::close);
    sendButton = new BusyButton(QStringLiteral("发送"), this);
    sendButton->setObjectName(QStringLiteral("sendButton"));
    sendButton->makeProminent(70);
    connect(sendButton, &QPushButton::clicked, this, &FeedbackView::send);
    againButton = new QPushButton(QStringLiteral("再写一条"), this);
    againButton->setObjectName(QStringLiteral("againButton"));
    connect(againButton, &QPushButton::clicked, &model, &FeedbackModel::startNew);
    doneButton = new BusyButton(QStringLiteral("完成"), this);
    doneButton->setObjectName(QStringLiteral("doneButton"));
    static_cast<BusyButton*>(doneButton)->makeProminent(70);
    connect(doneButton, &QPushButton::clicked, this, &FeedbackView::close);
    for (QPushButton* b : {cancelButton, static_cast<QPushButton*>(sendButton), againButton, doneButton}) {
        b->setAutoDefault(false);
        buttons->addWidget(b);
    }
    root->addLayout(buttons);

    // Escape cancels while editing; Return is "完成" once sent (while editing it stays in the text box).
    escapeKey = new QShortcut(QKeySequence(Qt::Key_Escape), this, this, &FeedbackView::close);
    escapeKey->setContext(Qt::WidgetWithChildrenShortcut);
    for (int key : {Qt::Key_Return, Qt::Key_Enter}) {
        auto* enter = new QShortcut(QKeySequence(key), this, this, &FeedbackView::close);
        enter->setContext(Qt::WidgetWithChildrenShortcut);
        returnKeys.append(enter);
    }
    // Paste anywhere in the form attaches a copied image; the text box handles its own paste.
    auto* paste = new QShortcut(QKeySequence::Paste, this, this, &FeedbackView::pasteClipboard);
    paste->setContext(Qt::WidgetWithChildrenShortcut);

    connect(&model, &FeedbackModel::changed, this, &FeedbackView::scheduleRefresh);
    connect(&app, &AppState::changed, this, &FeedbackView::scheduleRefresh);
    connect(&app.shots(), &ShotStore::changed, this, &FeedbackView::scheduleRefresh);
    refresh();
}

QString FeedbackView::summaryLine(const QString& version, const QString& system, const QString& model,
                                  qint64 memoryBytes, int servers)
{
    QStringList parts{QStringLiteral("tarnel ") + version, system};
    if (!model.isEmpty())
        parts.append(model);
    parts.append(MachineInfo::memoryText(memoryBytes));
    parts.append(QStringLiteral("%1 台服务器").arg(servers));
    return QStringLiteral("会一起发送：") + parts.join(QStringLiteral(" · "));
}

void FeedbackView::scheduleRefresh()
{
    if (refreshQueued)
        return;
    refreshQueued = true;
    QTimer::singleShot(0, this, &FeedbackView::refresh);
}

void FeedbackView::refresh()
{
    refreshQueued = false;
    const bool sent = model.sentID().has_value();
    const QString role = sent ? QStringLiteral("green") : QStringLiteral("accent");
    if (icon->property("colorRole").toString() != role) {
        icon->setProperty("colorRole", role);
        icon->setPixmap(Symbols::tinted(sent ? QStringLiteral("checkmark.circle.fill")
                                             : QStringLiteral("bubble.left.and.exclamationmark.bubble.right.fill"),
                                        iconSide, Theme::color(role)));
    }
    title->setText(sent ? QStringLiteral("收到了，谢谢！") : QStringLiteral("反馈问题"));
    subtitle->setText(sent ? sentLine(*model.sentID(), app.updater().installsUpdates())
                           : QStringLiteral("哪里不好用、哪里出错了，直接写。附上截图定位更快。"));
    editing->setVisible(!sent);

    if (editor->toPlainText() != model.text())
        editor->setPlainText(model.text());
    const QList<Shot>& shots = app.shots().shots();
    // Offered until that shot is attached; removing it offers it again.
    const bool offered = !shots.isEmpty() && !model.holds(shots.last().localPath);
    area->setNewestShot(offered ? std::optional<qint64>(shots.last().n) : std::nullopt);
    summary->setText(summaryLine(AppInfo::current().version, system, machine, memory,
                                 int(app.registry().servers().size())));
    logBox->setChecked(model.includeLog());
    errorLine->setVisible(model.error().has_value());
    errorLine->setText(model.error().value_or(QString()));

    cancelButton->setVisible(!sent);
    sendButton->setVisible(!sent);
    sendButton->setBusy(model.sending());
    sendButton->setText(model.sending() ? QStringLiteral("正在发送…") : QStringLiteral("发送"));
    sendButton->setEnabled(model.canSend());
    againButton->setVisible(sent);
    doneButton->setVisible(sent);
    escapeKey->setEnabled(!sent);
    for (QShortcut* key : returnKeys)
        key->setEnabled(sent);
}

void FeedbackView::appear()
{
    refresh();
    editor->setFocus(Qt::OtherFocusReason);
}

void FeedbackView::pick()
{
    if (!model.canAddImages())
        return;
    model.addFiles(chooseFiles());
}

void FeedbackView::pasteClipboard() { AttachmentArea::load(model, QApplication::clipboard()->mimeData()); }

void FeedbackView::attachNewestShot()
{
    const QList<Shot>& shots = app.shots().shots();
    if (!shots.isEmpty())
        model.addFiles({shots.last().localPath});
}

void FeedbackView::send()
{
    if (model.canSend())
        model.send(app.account().record(), app.environmentSummary());
}

void FeedbackView::close()
{
    if (app.hideFeedbackWindow)
        app.hideFeedbackWindow();
}

QStringList FeedbackView::chooseWithDialog()
{
    QString start = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    if (!QFileInfo(start).isDir())
        start = QStandardPaths::writableLocation(QStandardPaths::HomeLocation);
    return QFileDialog::getOpenFileNames(window(), QStringLiteral("加截图"), start, imageFilter());
}

QString FeedbackView::sentLine(qint64 id, bool installsUpdates)
{
    if (installsUpdates)
        return QStringLiteral("反馈编号 #%1。管理员会在后台看到，修好后 tarnel 会自动更新。").arg(id);
    return QStringLiteral("反馈编号 #%1。管理员会在后台看到。这个 tarnel 不会自动更新：修好后取回新的源码，再运行 ./scripts/run.sh。").arg(id);
}
