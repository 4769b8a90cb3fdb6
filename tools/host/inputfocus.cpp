#include "inputfocus.h"

#include <xcb/xcb.h>

#include <cstdlib>

bool giveInputFocus(quint64 windowId)
{
    // A connection of our own, opened once: Qt's is not reachable without its private API.
    static xcb_connection_t *const connection = [] {
        xcb_connection_t *c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c)) {
            xcb_disconnect(c);
            return static_cast<xcb_connection_t *>(nullptr);
        }
        return c;
    }();
    if (!connection)
        return false;
    const xcb_void_cookie_t cookie =
        xcb_set_input_focus_checked(connection, XCB_INPUT_FOCUS_PARENT,
                                    static_cast<xcb_window_t>(windowId), XCB_CURRENT_TIME);
    xcb_generic_error_t *error = xcb_request_check(connection, cookie);
    const bool ok = error == nullptr;
    std::free(error);
    return ok;
}
