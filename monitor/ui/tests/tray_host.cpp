// A small system tray on X (the freedesktop system tray protocol with
// XEmbed): a panel in the screen's top right corner that takes in every icon
// asking to dock. Enough for the monitor's tray icon on a bare Xvfb.
// Prints "tray ready" once it owns the tray selection; runs until killed.

#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr uint16_t kIcon = 28;
constexpr uint16_t kPad = 4;
constexpr uint32_t kRequestDock = 0;
constexpr uint32_t kEmbeddedNotify = 0;

xcb_atom_t atom(xcb_connection_t* c, const std::string& name)
{
    xcb_intern_atom_reply_t* r =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, static_cast<uint16_t>(name.size()), name.c_str()), nullptr);
    const xcb_atom_t a = r ? r->atom : xcb_atom_t{XCB_ATOM_NONE};
    std::free(r);
    return a;
}

void sendMessage(xcb_connection_t* c, xcb_window_t to, xcb_atom_t type, uint32_t mask, const uint32_t (&data)[5])
{
    xcb_client_message_event_t e{};
    e.response_type = XCB_CLIENT_MESSAGE;
    e.format = 32;
    e.window = to;
    e.type = type;
    std::memcpy(e.data.data32, data, sizeof data);
    xcb_send_event(c, 0, to, mask, reinterpret_cast<const char*>(&e));
}

}  // namespace

int main(int argc, char** argv)
{
    const uint16_t width = argc > 1 ? static_cast<uint16_t>(std::atoi(argv[1])) : 160;
    int screenNumber = 0;
    xcb_connection_t* c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) {
        std::fprintf(stderr, "tray_host: no X display\n");
        return 1;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;

    // The panel: dark, across the top right corner, above everything.
    const xcb_window_t panel = xcb_generate_id(c);
    const uint32_t values[] = {0x2b2f36, 1, XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, panel, screen->root,
                      static_cast<int16_t>(screen->width_in_pixels - width), 0, width, kIcon + 2 * kPad, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    xcb_map_window(c, panel);

    const xcb_atom_t selection = atom(c, "_NET_SYSTEM_TRAY_S" + std::to_string(screenNumber));
    const xcb_atom_t opcode = atom(c, "_NET_SYSTEM_TRAY_OPCODE");
    const xcb_atom_t xembed = atom(c, "_XEMBED");
    const xcb_atom_t orientation = atom(c, "_NET_SYSTEM_TRAY_ORIENTATION");
    const xcb_atom_t visual = atom(c, "_NET_SYSTEM_TRAY_VISUAL");
    const uint32_t horizontal = 0;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel, orientation, XCB_ATOM_CARDINAL, 32, 1, &horizontal);
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, panel, visual, XCB_ATOM_VISUALID, 32, 1, &screen->root_visual);

    xcb_set_selection_owner(c, panel, selection, XCB_CURRENT_TIME);
    sendMessage(c, screen->root, atom(c, "MANAGER"), XCB_EVENT_MASK_STRUCTURE_NOTIFY,
                {XCB_CURRENT_TIME, selection, panel, 0, 0});
    xcb_flush(c);
    std::printf("tray ready\n");
    std::fflush(stdout);

    int16_t next = static_cast<int16_t>(width - kPad - kIcon);
    while (xcb_generic_event_t* event = xcb_wait_for_event(c)) {
        if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
            const auto* m = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (m->type == opcode && m->data.data32[1] == kRequestDock) {
                const xcb_window_t icon = m->data.data32[2];
                xcb_reparent_window(c, icon, panel, next, kPad);
                const uint32_t size[] = {kIcon, kIcon};
                xcb_configure_window(c, icon, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, size);
                xcb_map_window(c, icon);
                sendMessage(c, icon, xembed, XCB_EVENT_MASK_NO_EVENT, {XCB_CURRENT_TIME, kEmbeddedNotify, 0, panel, 0});
                xcb_flush(c);
                next = static_cast<int16_t>(next - kIcon - kPad);
            }
        }
        std::free(event);
    }
    xcb_disconnect(c);
    return 0;
}
