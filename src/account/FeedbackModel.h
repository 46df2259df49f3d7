#pragma once

#include "account/AccountRecord.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMap>
#include <QObject>
#include <QThreadPool>
#include <QUuid>
#include <optional>

// The feedback form's state and its submission: the text, up to six images re-encoded as JPEG on
// arrival, whether the log tails go along, and the multipart upload to the account service. Main thread;
// decoding and encoding run on one worker so images keep their order of arrival.
class FeedbackModel : public QObject {
    Q_OBJECT
public:
    struct Attachment {
        QUuid id;
        QImage image; // as received, reduced to a thumbnail's needs
        QByteArray jpeg; // what is sent
        QString file; // the file it was read from; empty for a pasted or dropped picture
    };

    static constexpr int maxImages = 6;
    static constexpr double maxSide = 2560;
    static constexpr int appLogPieces = 300;
    static constexpr int netLogPieces = 200;
    static constexpr int previewSide = 256;

    // `logsDir` holds tarnel.log and tarnel-net.log.
    explicit FeedbackModel(const QString& logsDir, QObject* parent = nullptr);
    ~FeedbackModel() override;

    const QString& text() const { return typed; }
    const QList<Attachment>& images() const { return attached; }
    bool includeLog() const { return withLog; }
    bool sending() const { return busy; }
    const std::optional<QString>& error() const { return failure; }
    const std::optional<qint64>& sentID() const { return sentNumber; }
    bool canAddImages() const { return attached.size() < maxImages; }
    bool canSend() const { return !busy && !trimmed(typed).isEmpty(); }

    void setText(const QString& text);
    void setIncludeLog(bool on);
    // Each time the window is shown: back to editing; a sent report leaves an empty form. Untouched
    // while a report is on its way, so reopening cannot send it twice.
    void reset();
    // "Write another": an empty form after a sent report; includeLog and the error line stay.
    void startNew();

    // Attach an image, or the first image of each file, in order; nothing for what is no image, cannot
    // be encoded, or arrives when six are attached. Results arrive on the main thread.
    void add(const QImage& image);
    void addFiles(const QStringList& paths);
    void remove(const QUuid& id);
    // True while attachments are still being decoded or encoded.
    bool adding() const { return queued > 0; }
    // Whether the file is attached, or on its way.
    bool holds(const QString& file) const;

    // Sends the report with the signed-in record's token and the installation summary.
    void send(const std::optional<AccountRecord>& record, const QMap<QString, QString>& env);

    // JPEG at quality 0.82, long side at most `maxSide` (never enlarged, at least 1 pixel per side),
    // transparent areas white. Nothing for an image that cannot be encoded.
    static std::optional<QByteArray> jpeg(const QImage& image, double maxSide);
    static QByteArray multipart(const QByteArray& boundary, const QString& text, const QByteArray& env,
                                const QList<QByteArray>& images, const QString& log);
    // The log tails sent with a report: the application log, then the link program's under a heading.
    static QString logText(const QString& logsDir);
    static QString trimmed(const QString& text); // white space and line ends at both ends
    static QString notSignedIn();

Q_SIGNALS:
    void changed();

private:
    void enqueue(std::function<QImage()> read, const QString& file = {});

    QString logs;
    QString typed;
    QList<Attachment> attached;
    bool withLog = true;
    bool busy = false;
    std::optional<QString> failure;
    std::optional<qint64> sentNumber;
    int queued = 0;
    QStringList filesOnTheirWay;
    quint64 epoch = 0; // bumped when the form is emptied, so late images of the old report are dropped
    QThreadPool worker;
};
