// Takes the CLIPBOARD selection and offers a PNG it never delivers, until it is killed: "silent" never answers a
// request for it, "stalled" starts a transfer in pieces (INCR) and never sends one.
//   mute-owner silent|stalled
#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    const bool stalled = argc > 1 && std::strcmp(argv[1], "stalled") == 0;
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c))
        return 1;
    auto atom = [c](const char* name) {
        auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    };
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, xcb_setup_roots_iterator(xcb_get_setup(c)).data->root, 0, 0,
                      1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    const xcb_atom_t clipboard = atom("CLIPBOARD"), targets = atom("TARGETS"), png = atom("image/png");
    const xcb_atom_t offered[] = {targets, png};
    const uint32_t incrSize = 1u << 24;
    xcb_set_selection_owner(c, window, clipboard, XCB_CURRENT_TIME);
    xcb_flush(c);
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        const auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
        const bool answered = (event->response_type & 0x7f) == XCB_SELECTION_REQUEST &&
                              (request->target == targets || (request->target == png && stalled));
        if (answered) {
            if (request->target == targets)
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, request->property, XCB_ATOM_ATOM,
                                    32, 2, offered);
            else
                xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, request->property, atom("INCR"),
                                    32, 1, &incrSize);
            xcb_selection_notify_event_t notify{};
            notify.response_type = XCB_SELECTION_NOTIFY;
            notify.time = request->time;
            notify.requestor = request->requestor;
            notify.selection = request->selection;
            notify.target = request->target;
            notify.property = request->property;
            xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&notify));
            xcb_flush(c);
        }
        std::free(event);
    }
    return 0;
}
