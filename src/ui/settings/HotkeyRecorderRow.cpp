#include "ui/settings/HotkeyRecorderRow.h"

#include "app/AppState.h"
#include "delivery/HotkeySpec.h"
#include "ui/kit/StatusLabel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <X11/keysym.h>

namespace {
bool isModifierKey(int key)
{
    switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_Hyper_L:
    case Qt::Key_Hyper_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
        return true;
    default:
        return false;
    }
}

// Where the keyboard mapping is not known: the name Qt gives the key (Shift+3 may then be "#").
std::optional<quint32> keysymOfQtKey(int key)
{
    if (key >= Qt::Key_0 && key <= Qt::Key_9)
        return XK_0 + quint32(key - Qt::Key_0);
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        return XK_a + quint32(key - Qt::Key_A);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return XK_F1 + quint32(key - Qt::Key_F1);
    return std::nullopt;
}

const QString refusedHint = QStringLiteral("要带 Super/Ctrl/Alt，键只认数字、字母、F1～F12");
} // namespace

HotkeyRecorderRow::HotkeyRecorderRow(AppState& app, HotkeyCenter::Key slot, const QString& title, QWidget* parent)
    : QWidget(parent), app(app), slot(slot)
{
    const QString name = HotkeyCenter::slotName(slot);
    setObjectName(name + QStringLiteral("Recorder"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* row = new QHBoxLayout;
    row->setSpacing(10);
    row->addWidget(new QLabel(title, this));
    row->addStretch(1);
    value = new QLabel(this);
    value->setObjectName(name + QStringLiteral("Value"));
    value->setTextFormat(Qt::PlainText);
    QFont strong = value->font();
    strong.setPointSizeF(strong.pointSizeF() + 2);
    strong.setWeight(QFont::DemiBold);
    value->setFont(strong);
    value->setStyleSheet(QStringLiteral("QLabel { background: palette(base); border-radius: 6px; padding: 4px 10px; }"));
    row->addWidget(value);
    toggle = new QPushButton(this);
    toggle->setObjectName(name + QStringLiteral("RecordButton"));
    toggle->setAutoDefault(false);
    connect(toggle, &QPushButton::clicked, this, [this] { isRecording ? stop() : start(); });
    row->addWidget(toggle);
    column->addLayout(row);
    hintLine = new StatusLabel(QStringLiteral("orange"), this);
    hintLine->setObjectName(name + QStringLiteral("Hint"));
    hintLine->setSizeStep(-2);
    hintLine->setAlignment(Qt::AlignRight);
    hintLine->hide();
    column->addWidget(hintLine);
    connect(&app, &AppState::changed, this, &HotkeyRecorderRow::refresh);
    refresh();
}

HotkeyRecorderRow::~HotkeyRecorderRow()
{
    if (isRecording)
        qApp->removeEventFilter(this);
}

QString HotkeyRecorderRow::hint() const { return hintLine->isHidden() ? QString() : hintLine->text(); }

QString HotkeyRecorderRow::stored() const
{
    const Settings& s = app.settings();
    return slot == HotkeyCenter::Key::paste ? s.hotkeyPaste : s.hotkeyPanel;
}

void HotkeyRecorderRow::refresh()
{
    const QString text = stored();
    const auto spec = HotkeySpec::parse(text);
    value->setText(spec ? spec->desktopText() : text);
    toggle->setText(isRecording ? QStringLiteral("按下新组合键…") : QStringLiteral("改…"));
}

void HotkeyRecorderRow::start()
{
    if (isRecording)
        return;
    Q_EMIT started(); // another row ends first, and gives the hot keys back before they go again
    isRecording = true;
    hintLine->clear();
    hintLine->hide();
    app.suspendHotkeys();
    qApp->installEventFilter(this);
    refresh();
}

void HotkeyRecorderRow::stop()
{
    if (!isRecording)
        return;
    isRecording = false;
    qApp->removeEventFilter(this);
    app.restoreHotkeys();
    // A combination another program holds is not ours however often it is stored.
    if (const QString failed = app.hotkeys().failure(slot); !failed.isEmpty()) {
        hintLine->setText(QStringLiteral("这个组合键没注册上（") + failed + QStringLiteral("），换一个试试"));
        hintLine->show();
    }
    refresh();
}

bool HotkeyRecorderRow::eventFilter(QObject* watched, QEvent* event)
{
    Q_UNUSED(watched);
    switch (event->type()) {
    case QEvent::ShortcutOverride:
        // Accepted: no shortcut fires, the press itself comes next.
        event->accept();
        return true;
    case QEvent::KeyPress:
        take(static_cast<const QKeyEvent&>(*event));
        return true;
    case QEvent::KeyRelease:
        return true;
    default:
        return false;
    }
}

void HotkeyRecorderRow::take(const QKeyEvent& press)
{
    if (!isRecording || press.isAutoRepeat() || isModifierKey(press.key()))
        return;
    if (press.key() == Qt::Key_Escape) {
        stop();
        return;
    }
    std::optional<quint32> keysym;
    if (press.nativeScanCode() != 0)
        keysym = app.hotkeys().baseKeysym(press.nativeScanCode());
    if (!keysym)
        keysym = keysymOfQtKey(press.key());
    const auto text = keysym ? HotkeySpec::from(press.modifiers(), *keysym) : std::nullopt;
    if (!text) {
        hintLine->setText(refusedHint);
        hintLine->show();
        return;
    }
    store(*text);
    stop();
}

void HotkeyRecorderRow::store(const QString& text)
{
    Settings s = app.settings();
    (slot == HotkeyCenter::Key::paste ? s.hotkeyPaste : s.hotkeyPanel) = text;
    app.setSettings(s);
}

void HotkeyRecorderRow::hideEvent(QHideEvent* event)
{
    stop();
    QWidget::hideEvent(event);
}
