#include "ui/kit/FrameMemory.h"

#include "state/Paths.h"
#include "state/Store.h"
#include "ui/kit/KeptWindow.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QJsonObject>
#include <QScreen>
#include <QWidget>

namespace {
QScreen* screenNamed(const QString& name)
{
    for (QScreen* screen : QGuiApplication::screens())
        if (screen->name() == name)
            return screen;
    return nullptr;
}
} // namespace

FrameMemory::FrameMemory(QWidget& window, const QString& name) : QObject(&window), window(window), name(name)
{
    window.installEventFilter(this);
    connect(qApp, &QCoreApplication::aboutToQuit, this, [this] {
        if (this->window.isVisible())
            save();
    });
}

void FrameMemory::place()
{
    // A window being shown again is centred: the saved frame keeps only its size and its screen.
    centreOnScreen(window, restore());
}

void FrameMemory::present()
{
    bringToFront(window, [this] { place(); });
}

QScreen* FrameMemory::restore()
{
    const auto frames = Store(Paths::dataDirectory()).read(fileName());
    if (!frames)
        return nullptr;
    const QJsonObject frame = frames->value(name).toObject();
    QScreen* screen = screenNamed(frame.value(QStringLiteral("screen")).toString());
    const QByteArray geometry = QByteArray::fromBase64(frame.value(QStringLiteral("geometry")).toString().toLatin1());
    if (!screen || geometry.isEmpty() || !window.restoreGeometry(geometry))
        return nullptr;
    return screen;
}

void FrameMemory::save()
{
    QScreen* screen = window.screen();
    if (!screen)
        return;
    const Store store(Paths::dataDirectory());
    QJsonObject frames = store.read(fileName()).value_or(QJsonObject());
    frames.insert(name, QJsonObject{{QStringLiteral("geometry"), QString::fromLatin1(window.saveGeometry().toBase64())},
                                    {QStringLiteral("screen"), screen->name()}});
    store.write(fileName(), frames);
}

bool FrameMemory::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == &window && event->type() == QEvent::Hide)
        save();
    return QObject::eventFilter(watched, event);
}
