#include "Splice.h"

#include "Stream.h"

Splice::Splice(Stream* a, Stream* b, const QByteArray& toB, const QByteArray& toA, QObject* parent)
    : QObject(parent), a(a), b(b)
{
    if (!toB.isEmpty())
        b->write(toB);
    if (!toA.isEmpty())
        a->write(toA);
    connect(a, &Stream::readyRead, this, [this] { move(this->a, this->b, aDone); });
    connect(b, &Stream::readyRead, this, [this] { move(this->b, this->a, bDone); });
    connect(a, &Stream::written, this, [this] { move(this->b, this->a, bDone); });
    connect(b, &Stream::written, this, [this] { move(this->a, this->b, aDone); });
    connect(a, &Stream::broken, this, &Splice::finish);
    connect(b, &Stream::broken, this, &Splice::finish);
    QMetaObject::invokeMethod(this, [this] {
        move(this->a, this->b, aDone);
        move(this->b, this->a, bDone);
    }, Qt::QueuedConnection);
}

void Splice::move(Stream* from, Stream* to, bool& done)
{
    if (over)
        return;
    while (!done && to->pendingWrite() < highWater) {
        const QByteArray bytes = from->read(chunk);
        if (!bytes.isEmpty()) {
            to->write(bytes);
            continue;
        }
        if (from->atEnd()) {
            done = true;
            to->finishWrite();
        }
        break;
    }
    check();
}

void Splice::check()
{
    if (over)
        return;
    if (aDone && b->pendingWrite() == 0)
        Q_EMIT ended(a);
    if (bDone && a->pendingWrite() == 0)
        Q_EMIT ended(b);
    if (aDone && bDone && a->pendingWrite() == 0 && b->pendingWrite() == 0)
        finish({});
}

void Splice::finish(const QString& reason)
{
    if (over)
        return;
    over = true;
    a->close();
    b->close();
    Q_EMIT finished(reason);
}
