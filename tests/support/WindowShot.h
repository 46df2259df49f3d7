#pragma once

#include "support/LabelFit.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QImage>
#include <QInputMethodEvent>
#include <QSet>
#include <QTest>
#include <QWidget>
#include <functional>

// Saves a window's picture as <folder>/<name>.png for a person to look at. Answers what is wrong with
// it (not saved, not `size`, blank), or nothing; a `size` without height checks the width only. Header
// only: the support library has no widgets.
inline QString saveWindowShot(QWidget* window, const QString& folder, const QString& name, QSize size)
{
    if (QGuiApplication::platformName() == QLatin1String("offscreen"))
        QApplication::processEvents();
    else
        QTest::qWait(150); // let the window manager draw
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    if (!window->grab().save(path))
        return QStringLiteral("could not save ") + path;
    const QImage image(path);
    const QSize shown = image.size() / image.devicePixelRatio();
    if (shown.width() != size.width() || (size.height() > 0 && shown.height() != size.height()))
        return QStringLiteral("%1 is %2x%3").arg(name).arg(image.width()).arg(image.height());
    // Not blank: text, fields and buttons give many distinct colours.
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return colours.size() > 20 ? QString() : name + QStringLiteral(" looks blank");
}

// A window under test: its widgets by object name, text typed the way an input method commits it, and
// pictures of its states under <build>/artifacts/<artifacts>/.
class WindowProbe {
public:
    WindowProbe(std::function<QWidget*()> window, const QString& artifacts, QSize size)
        : window(std::move(window)), folder(QStringLiteral(TARNEL_BINARY_DIR "/artifacts/") + artifacts), size(size)
    {
    }

    template <typename T = QWidget>
    T* find(const char* name) const
    {
        return window()->findChild<T*>(QString::fromLatin1(name));
    }

    // Any character arrives as typed text.
    static void commit(QWidget* field, const QString& text)
    {
        QInputMethodEvent input;
        input.setCommitString(text);
        QApplication::sendEvent(field, &input);
    }

    void shoot(const QString& name) const
    {
        // What is pending first (a window growing to its text), as a person would see it.
        (void)QTest::qWaitFor([this] { return LabelFit::cutLabels(*window()).isEmpty(); }, 5000);
        const QString problem = saveWindowShot(window(), folder, name, size);
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        // Judged as drawn: a layout still pending when the picture was taken shows in it.
        const QStringList cut = LabelFit::cutNow(*window());
        QVERIFY2(cut.isEmpty(), qPrintable(name + QStringLiteral(": ") + cut.join(QStringLiteral("; "))));
    }

private:
    std::function<QWidget*()> window;
    QString folder;
    QSize size;
};

// Pictures of a page's widgets as laid out, saved under <build>/artifacts/<artifacts>/; the fixture clock
// stands at `noon` so every run reads the same times.
class PageShots {
public:
    explicit PageShots(const QString& artifacts) : folder(QStringLiteral(TARNEL_BINARY_DIR "/artifacts/") + artifacts) {}

    // Lays out what is pending; `settle` then also lets queued events (timers, slots) run before the picture.
    void shoot(QWidget& widget, const QString& name, bool settle = false) const
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        if (settle)
            QCoreApplication::processEvents();
        QVERIFY(widget.grab().save(folder + QLatin1Char('/') + name + QStringLiteral(".png")));
    }

    const QString folder;
    const QDateTime noon = QDateTime(QDate(2025, 3, 14), QTime(12, 0));
};
