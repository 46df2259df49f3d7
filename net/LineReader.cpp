#include "LineReader.h"

#include "Stream.h"

#include <QJsonDocument>

LineReader::LineReader(Stream* stream, qint64 limit, int timeoutMs, QObject* parent, const QByteArray& initial)
    : QObject(parent), stream(stream), limit(limit), buffer(initial)
{
    connect(stream, &Stream::readyRead, this, &LineReader::readMore);
    connect(stream, &Stream::broken, this, [this](const QString& reason) {
        if (!detached)
            Q_EMIT failed(reason);
    });
    if (timeoutMs > 0) {
        timer.setSingleShot(true);
        connect(&timer, &QTimer::timeout, this, [this] {
            if (!detached)
                Q_EMIT failed(QStringLiteral("等回复超时"));
        });
        timer.start(timeoutMs);
    }
    QMetaObject::invokeMethod(this, &LineReader::readMore, Qt::QueuedConnection);
}

QByteArray LineReader::detach()
{
    detached = true;
    timer.stop();
    disconnect(stream, nullptr, this, nullptr);
    return std::exchange(buffer, {});
}

void LineReader::readMore()
{
    while (!detached) {
        const qsizetype newline = buffer.indexOf('\n');
        if (newline >= 0) {
            const QByteArray line = buffer.left(newline);
            buffer.remove(0, newline + 1);
            Q_EMIT message(QJsonDocument::fromJson(line).object()); // may detach or delete-later this reader
            continue;
        }
        if (buffer.size() > limit)
            return Q_EMIT failed(QStringLiteral("对方发来的行太长"));
        const QByteArray bytes = stream->read(64 * 1024);
        if (bytes.isEmpty()) {
            if (stream->atEnd())
                Q_EMIT failed(QStringLiteral("对方关闭了连接"));
            return;
        }
        buffer.append(bytes);
    }
}
