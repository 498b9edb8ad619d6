// A test X client: a plain window that swaps between a dark and a light colour on each button
// press and repaints at once. Arguments: X Y WIDTH HEIGHT. Prints "ready <window id>" once it is
// mapped, then "repaint <ms>" per press: the time from reading the press to the server having
// drawn the new colour. Runs until its standard input closes.
#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
    if (argc != 5) {
        std::fprintf(stderr, "usage: colour_window X Y WIDTH HEIGHT\n");
        return 2;
    }
    const int x = std::atoi(argv[1]), y = std::atoi(argv[2]);
    const int w = std::atoi(argv[3]), h = std::atoi(argv[4]);
    int screenNumber = 0;
    xcb_connection_t *c = xcb_connect(nullptr, &screenNumber);
    if (xcb_connection_has_error(c)) return 1;
    xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(c));
    for (int i = 0; i < screenNumber; ++i) xcb_screen_next(&it);
    xcb_screen_t *screen = it.data;
    const std::uint32_t colours[2] = {0x202020, 0xe0e0e0};
    int current = 0;
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t values[3] = {colours[0], 1,
                                     XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_EXPOSURE};
    // Override-redirect: placed exactly where asked, with or without a window manager.
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, std::int16_t(x),
                      std::int16_t(y), std::uint16_t(w), std::uint16_t(h), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual,
                      XCB_CW_BACK_PIXEL | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    const char title[] = "colour window";
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        sizeof title - 1, title);
    xcb_map_window(c, window);
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    std::printf("ready %u\n", window);
    std::fflush(stdout);

    const int fd = xcb_get_file_descriptor(c);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {0, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents) {
            char b[64];
            if (::read(0, b, sizeof b) <= 0) break;
        }
        while (xcb_generic_event_t *e = xcb_poll_for_event(c)) {
            if ((e->response_type & 0x7f) == XCB_BUTTON_PRESS) {
                const auto start = std::chrono::steady_clock::now();
                current = 1 - current;
                xcb_change_window_attributes(c, window, XCB_CW_BACK_PIXEL, &colours[current]);
                xcb_clear_area(c, 0, window, 0, 0, 0, 0);
                // A round trip: the server has drawn the colour when the reply comes.
                std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
                const double took = std::chrono::duration<double, std::milli>(
                                        std::chrono::steady_clock::now() - start)
                                        .count();
                std::printf("repaint %.2f\n", took);
                std::fflush(stdout);
            }
            std::free(e);
        }
        if (xcb_connection_has_error(c)) break;
    }
    xcb_disconnect(c);
    return 0;
}
