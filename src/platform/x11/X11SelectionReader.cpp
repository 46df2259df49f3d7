#include "platform/x11/X11SelectionReader.h"

#include <QDeadlineTimer>
#include <QtEndian>
#include <QString>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace {
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using EventPtr = std::unique_ptr<xcb_generic_event_t, FreeDeleter>;

// The next event that `wanted` accepts; none once `deadline` passes, `stop` is set or the connection breaks.
template <class Accept>
EventPtr waitFor(xcb_connection_t* connection, int wake, const std::atomic<bool>& stop, QDeadlineTimer deadline,
                 Accept wanted)
{
    for (;;) {
        while (EventPtr event{xcb_poll_for_event(connection)}) {
            if (wanted(event.get()))
                return event;
        }
        const int left = int(deadline.remainingTime());
        if (stop || xcb_connection_has_error(connection) || left == 0)
            return nullptr;
        pollfd fds[] = {{xcb_get_file_descriptor(connection), POLLIN, 0}, {wake, POLLIN, 0}};
        poll(fds, 2, left);
    }
}
} // namespace

X11SelectionReader::X11SelectionReader(std::chrono::milliseconds patience, qint64 maxBytes)
    : patience(patience), maxBytes(maxBytes), wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
    connection = xcb_connect(nullptr, nullptr);
    if (!connected())
        return;
    root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    clipboard = atom("CLIPBOARD");
    incr = atom("INCR");
    property = atom("TARNEL_SELECTION");
    createWindow();
}

X11SelectionReader::~X11SelectionReader()
{
    cancel();
    const std::lock_guard lock(busy);
    if (connection)
        xcb_disconnect(connection);
    if (wake >= 0)
        close(wake);
}

void X11SelectionReader::cancel()
{
    cancelled = true;
    if (wake >= 0)
        (void)eventfd_write(wake, 1);
}

bool X11SelectionReader::connected() const { return connection && !xcb_connection_has_error(connection); }

// A fresh window for each start and after each failed read, so what a late owner still sends goes to a window
// that is gone instead of into the next read.
void X11SelectionReader::createWindow()
{
    if (window)
        xcb_destroy_window(connection, window);
    window = xcb_generate_id(connection);
    const quint32 events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, root, 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    xcb_flush(connection);
}

quint32 X11SelectionReader::atom(const QByteArray& name)
{
    if (const auto known = atoms.constFind(name); known != atoms.cend())
        return *known;
    const auto cookie = xcb_intern_atom(connection, 0, quint16(name.size()), name.constData());
    const std::unique_ptr<xcb_intern_atom_reply_t, FreeDeleter> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr));
    if (!reply)
        return XCB_ATOM_NONE;
    atoms.insert(name, reply->atom);
    return reply->atom;
}

Outcome<QByteArray> X11SelectionReader::read(const QByteArray& type)
{
    const std::lock_guard lock(busy);
    if (!connected())
        return Outcome<QByteArray>::failure(QStringLiteral("连不上 X 服务器"));
    if (cancelled)
        return stopped();
    Outcome<QByteArray> result = transfer(atom(type));
    if (!result.ok() && connected())
        createWindow();
    return result;
}

Outcome<QByteArray> X11SelectionReader::transfer(quint32 target)
{
    // Whatever an earlier read left on the window is not part of this one.
    xcb_delete_property(connection, window, property);
    xcb_convert_selection(connection, window, clipboard, target, property, XCB_CURRENT_TIME);
    xcb_flush(connection);
    const auto answer = [&](xcb_generic_event_t* event) {
        if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY)
            return false;
        const auto* n = reinterpret_cast<xcb_selection_notify_event_t*>(event);
        return n->requestor == window && n->selection == clipboard && n->target == target;
    };
    const EventPtr notice = waitFor(connection, wake, cancelled, QDeadlineTimer(patience), answer);
    if (!notice)
        return stopped();
    if (reinterpret_cast<xcb_selection_notify_event_t*>(notice.get())->property == XCB_ATOM_NONE)
        return Outcome<QByteArray>::failure(QStringLiteral("复制它的程序没有给出这种格式"));
    // Reading deletes the property, which for INCR asks the owner for the first piece.
    std::optional<Property> first = take();
    if (!first)
        return stopped();
    if (first->type == incr)
        return receiveIncrements(first->bytes);
    if (first->bytes.size() > maxBytes)
        return tooLarge();
    return Outcome<QByteArray>::success(std::move(first->bytes));
}

// Each new value of the property is the next piece; an empty one ends the transfer.
Outcome<QByteArray> X11SelectionReader::receiveIncrements(const QByteArray& header)
{
    QByteArray content;
    // The header holds a lower bound of the size.
    if (header.size() >= 4)
        content.reserve(qsizetype(std::min<qint64>(qFromUnaligned<quint32>(header.constData()), maxBytes)));
    const auto nextPiece = [&](xcb_generic_event_t* event) {
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
            return false;
        const auto* p = reinterpret_cast<xcb_property_notify_event_t*>(event);
        return p->window == window && p->atom == property && p->state == XCB_PROPERTY_NEW_VALUE;
    };
    for (;;) {
        const EventPtr event = waitFor(connection, wake, cancelled, QDeadlineTimer(patience), nextPiece);
        if (!event)
            return stopped();
        const std::optional<Property> piece = take();
        if (!piece)
            return stopped();
        if (piece->bytes.isEmpty())
            return Outcome<QByteArray>::success(std::move(content));
        if (content.size() + piece->bytes.size() > maxBytes)
            return tooLarge();
        content += piece->bytes;
    }
}

std::optional<X11SelectionReader::Property> X11SelectionReader::take()
{
    // The whole value in one reply (the length counts 4-byte units), deleted once read.
    const auto cookie =
        xcb_get_property(connection, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, UINT32_MAX / 4);
    const std::unique_ptr<xcb_get_property_reply_t, FreeDeleter> reply(
        xcb_get_property_reply(connection, cookie, nullptr));
    xcb_flush(connection);
    if (!reply)
        return std::nullopt;
    const auto* value = static_cast<const char*>(xcb_get_property_value(reply.get()));
    return Property{reply->type, QByteArray(value, xcb_get_property_value_length(reply.get()))};
}

Outcome<QByteArray> X11SelectionReader::tooLarge() const
{
    return Outcome<QByteArray>::failure(QStringLiteral("超过 %1 MB").arg(maxBytes >> 20));
}

Outcome<QByteArray> X11SelectionReader::stopped() const
{
    if (cancelled)
        return Outcome<QByteArray>::failure(QStringLiteral("程序正在退出"));
    if (!connected())
        return Outcome<QByteArray>::failure(QStringLiteral("和 X 服务器的连接断了"));
    return Outcome<QByteArray>::failure(
        QStringLiteral("复制它的程序 %1 秒没有回应").arg(double(patience.count()) / 1000.0));
}
