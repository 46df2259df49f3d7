#include "account/FeedbackModel.h"

#include "account/QXServer.h"
#include "state/Log.h"

#include <QBuffer>
#include <algorithm>
#include <QColorSpace>
#include <QImageReader>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QtConcurrent>
#include <algorithm>
#include <cmath>

namespace {
struct Prepared {
    QByteArray boundary;
    QByteArray body;
    bool withLog = false;
};

struct Encoded {
    QImage image;
    QByteArray jpeg;
};

QImage firstImage(const QString& path)
{
    QImageReader reader(path);
    return reader.read();
}
} // namespace

FeedbackModel::FeedbackModel(const QString& logsDir, QObject* parent) : QObject(parent), logs(logsDir)
{
    worker.setMaxThreadCount(1);
}

FeedbackModel::~FeedbackModel() { worker.waitForDone(); }

QString FeedbackModel::notSignedIn() { return QStringLiteral("还没登录 tarnel 账号，请先登录再反馈"); }

QString FeedbackModel::trimmed(const QString& text) { return text.trimmed(); }

void FeedbackModel::setText(const QString& text)
{
    if (typed == text)
        return;
    typed = text;
    Q_EMIT changed();
}

void FeedbackModel::setIncludeLog(bool on)
{
    if (withLog == on)
        return;
    withLog = on;
    Q_EMIT changed();
}

void FeedbackModel::reset()
{
    if (busy)
        return;
    if (sentNumber) {
        typed.clear();
        attached.clear();
        ++epoch;
    }
    sentNumber.reset();
    failure.reset();
    Q_EMIT changed();
}

void FeedbackModel::startNew()
{
    sentNumber.reset();
    typed.clear();
    attached.clear();
    ++epoch;
    Q_EMIT changed();
}

void FeedbackModel::add(const QImage& image)
{
    if (image.isNull())
        return;
    enqueue([image] { return image; });
}

void FeedbackModel::addFiles(const QStringList& paths)
{
    for (const QString& path : paths)
        enqueue([path] { return firstImage(path); }, path);
}

bool FeedbackModel::holds(const QString& file) const
{
    return filesOnTheirWay.contains(file)
        || std::any_of(attached.begin(), attached.end(), [&](const Attachment& a) { return a.file == file; });
}

void FeedbackModel::enqueue(std::function<QImage()> read, const QString& file)
{
    if (!canAddImages())
        return;
    ++queued;
    filesOnTheirWay << file;
    const quint64 forEpoch = epoch;
    QtConcurrent::run(&worker, [read] {
        const QImage image = read();
        Encoded out;
        if (image.isNull())
            return out;
        out.jpeg = jpeg(image, maxSide).value_or(QByteArray());
        // The form shows a small thumbnail: keep no more of a large image than that needs.
        out.image = std::max(image.width(), image.height()) > previewSide
                        ? image.scaled(previewSide, previewSide, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                        : image;
        return out;
    }).then(this, [this, forEpoch, file](const Encoded& out) {
        --queued;
        filesOnTheirWay.removeOne(file);
        if (forEpoch == epoch && !out.jpeg.isEmpty() && canAddImages())
            attached.append({QUuid::createUuid(), out.image, out.jpeg, file});
        Q_EMIT changed();
    });
}

void FeedbackModel::remove(const QUuid& id)
{
    const auto before = attached.size();
    attached.removeIf([&](const Attachment& a) { return a.id == id; });
    if (attached.size() != before)
        Q_EMIT changed();
}

void FeedbackModel::send(const std::optional<AccountRecord>& record, const QMap<QString, QString>& env)
{
    if (busy)
        return;
    if (!record || record->token.isEmpty()) {
        failure = notSignedIn();
        Q_EMIT changed();
        return;
    }
    busy = true;
    failure.reset();
    Q_EMIT changed();

    QJsonObject envObject;
    for (auto it = env.begin(); it != env.end(); ++it)
        envObject.insert(it.key(), it.value());
    const QByteArray envJson = QJsonDocument(envObject).toJson(QJsonDocument::Compact);
    QList<QByteArray> jpegs;
    for (const Attachment& a : attached)
        jpegs.append(a.jpeg);
    const QString body = trimmed(typed);
    const QString logsDir = withLog ? logs : QString();
    const QString token = record->token;
    const auto count = jpegs.size();

    QtConcurrent::run([=] {
        const QString log = logsDir.isEmpty() ? QString() : logText(logsDir);
        Prepared p;
        p.boundary = "tarnel-" + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().toLatin1();
        p.body = multipart(p.boundary, body, envJson, jpegs, log);
        p.withLog = !log.isEmpty();
        return p;
    }).then(this, [this, token, count](const Prepared& p) {
        QXServer::send<OKReply>(QXServer::feedbackRequest(token, QString::fromLatin1(p.boundary), p.body))
            .then(this, [this, count, withLog = p.withLog](const QXServer::Result<OKReply>& result) {
                busy = false;
                if (result.ok()) {
                    sentNumber = result.reply->id.value_or(0);
                    Log::write(QStringLiteral("反馈：已发送 #%1（%2 张图%3）")
                                   .arg(*sentNumber)
                                   .arg(count)
                                   .arg(withLog ? QStringLiteral(" + 日志") : QString()));
                } else {
                    failure = result.failure.message;
                    Log::write(QStringLiteral("反馈：没发出去（%1）").arg(*failure));
                }
                Q_EMIT changed();
            });
    });
}

std::optional<QByteArray> FeedbackModel::jpeg(const QImage& image, double maxSide)
{
    if (image.isNull())
        return std::nullopt;
    const int longest = std::max(image.width(), image.height());
    int width = image.width();
    int height = image.height();
    if (longest > maxSide) {
        // Multiply before dividing so the long side lands exactly on maxSide.
        width = std::max(1, int(std::floor(width * maxSide / longest)));
        height = std::max(1, int(std::floor(height * maxSide / longest)));
    }
    QImage source = image;
    if (source.colorSpace().isValid() && source.colorSpace() != QColorSpace(QColorSpace::SRgb))
        source.convertToColorSpace(QColorSpace::SRgb);
    if (source.size() != QSize(width, height))
        source = source.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QImage canvas(width, height, QImage::Format_RGB32);
    if (canvas.isNull())
        return std::nullopt;
    canvas.setColorSpace(QColorSpace::SRgb);
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    painter.drawImage(0, 0, source);
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!canvas.save(&buffer, "JPEG", 82))
        return std::nullopt;
    return bytes;
}

QByteArray FeedbackModel::multipart(const QByteArray& boundary, const QString& text, const QByteArray& env,
                                    const QList<QByteArray>& images, const QString& log)
{
    QByteArray body;
    auto part = [&](const QByteArray& name, const QByteArray& bytes, const QByteArray& filename = {}) {
        body += "--" + boundary + "\r\n";
        body += "Content-Disposition: form-data; name=\"" + name + "\"";
        if (!filename.isEmpty())
            body += "; filename=\"" + filename + "\"\r\nContent-Type: image/jpeg";
        body += "\r\n\r\n" + bytes + "\r\n";
    };
    part("text", text.toUtf8());
    part("env", env);
    if (!log.isEmpty())
        part("log", log.toUtf8());
    for (qsizetype i = 0; i < images.size(); ++i)
        part("images", images.at(i), "screenshot-" + QByteArray::number(i + 1) + ".jpg");
    body += "--" + boundary + "--\r\n";
    return body;
}

QString FeedbackModel::logText(const QString& logsDir)
{
    QString text = Log::tail(logsDir + QStringLiteral("/tarnel.log"), appLogPieces);
    const QString net = Log::tail(logsDir + QStringLiteral("/tarnel-net.log"), netLogPieces);
    if (!net.isEmpty())
        text += QStringLiteral("\n\n===== tarnel-net.log（设备互联，最近 200 行）=====\n") + net;
    return text;
}
