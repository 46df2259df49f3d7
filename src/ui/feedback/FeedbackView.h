#pragma once

#include <QStringList>
#include <QWidget>
#include <functional>

class AppState;
class AttachmentArea;
class BusyButton;
class FeedbackEditor;
class FeedbackModel;
class QCheckBox;
class QLabel;
class QPushButton;
class QShortcut;
class StatusLabel;
class SymbolNote;

// The feedback form: what went wrong, the images, what goes along, and the send button; after a sent
// report, a short confirmation with its number. Mirrors the FeedbackModel and forwards edits to it.
class FeedbackView : public QWidget {
    Q_OBJECT
public:
    FeedbackView(AppState& app, FeedbackModel& model, QWidget* parent = nullptr);

    // Chooses image files to attach; by default a modal file dialog in the Desktop folder.
    std::function<QStringList()> chooseFiles;

    void pick();
    void pasteClipboard();
    void attachNewestShot();
    void send();
    // "取消" and "完成".
    void close();
    // The form was shown: the text box takes the focus.
    void appear();

    // "会一起发送：tarnel 0.1.0 · Debian … · 16 GB · 2 台服务器"; an empty model name is left out.
    static QString summaryLine(const QString& version, const QString& system, const QString& model,
                               qint64 memoryBytes, int servers);

    // The line under "收到了，谢谢！": a fix reaches the user by itself only where updates install.
    static QString sentLine(qint64 id, bool installsUpdates);

    AttachmentArea* attachments() const { return area; }

private:
    void scheduleRefresh();
    void refresh();
    QStringList chooseWithDialog();

    AppState& app;
    FeedbackModel& model;
    QString system;
    QString machine;
    qint64 memory = 0;

    QLabel* icon;
    QLabel* title;
    StatusLabel* subtitle;
    QWidget* editing;
    FeedbackEditor* editor;
    AttachmentArea* area;
    StatusLabel* summary;
    QCheckBox* logBox;
    SymbolNote* errorLine;
    QPushButton* cancelButton;
    BusyButton* sendButton;
    QPushButton* againButton;
    QPushButton* doneButton;
    QShortcut* escapeKey;
    QList<QShortcut*> returnKeys;
    bool refreshQueued = false;
};
