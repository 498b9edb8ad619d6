// A test X client: a plain window that swaps between a dark and a light colour on each button
// press and repaints at once. Arguments: X Y WIDTH HEIGHT [tone] [busy]. Prints "ready <window id>"
// once it is mapped, then "repaint <ms>" per press: the time from reading the press to the server
// having drawn the new colour. With "tone" it also plays into the sound server's default sink,
// silence until a press and then 200 ms of a 1 kHz tone, written 5 ms at a time into a 10 ms
// playback buffer. With "busy" a band of stripes moves across the top quarter 30 times a second,
// so that the screen has content to encode (benchmarks). Runs until its standard input closes.
#include <xcb/xcb.h>

#include <poll.h>
#include <unistd.h>

#include <pulse/simple.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int rate = 48000;
constexpr int chunk = rate / 200; // 5 ms: a press is heard within one chunk of the latency

// Plays silence, or the tone while `toneLeft` counts samples, paced by the server.
void play(pa_simple *stream, std::atomic<int> &toneLeft, std::atomic<bool> &running) {
    std::vector<std::int16_t> samples(chunk);
    long phase = 0;
    while (running) {
        for (auto &v : samples) {
            const bool on = toneLeft.load() > 0;
            v = on ? std::int16_t(12000 * std::sin(2 * M_PI * 1000 * double(phase++) / rate)) : 0;
            if (on) --toneLeft;
        }
        if (pa_simple_write(stream, samples.data(), samples.size() * 2, nullptr) < 0) return;
    }
}

} // namespace

int main(int argc, char **argv) {
    bool tone = false, busy = false;
    for (int i = 5; i < argc; ++i) {
        tone |= std::string(argv[i]) == "tone";
        busy |= std::string(argv[i]) == "busy";
    }
    if (argc < 5 || argc - 5 != int(tone) + int(busy)) {
        std::fprintf(stderr, "usage: colour_window X Y WIDTH HEIGHT [tone] [busy]\n");
        return 2;
    }
    pa_simple *stream = nullptr;
    std::atomic<int> toneLeft{0};
    std::atomic<bool> running{true};
    std::thread player;
    if (tone) {
        const pa_sample_spec format{PA_SAMPLE_S16LE, rate, 1};
        // A short buffer, so that the tone is heard soon after the press.
        const pa_buffer_attr buffer{std::uint32_t(-1), std::uint32_t(chunk * 2 * 2),
                                    std::uint32_t(chunk * 2), std::uint32_t(chunk * 2),
                                    std::uint32_t(-1)};
        int error = 0;
        stream = pa_simple_new(nullptr, "colour window", PA_STREAM_PLAYBACK, nullptr, "tone",
                               &format, nullptr, &buffer, &error);
        if (!stream) {
            std::fprintf(stderr, "colour_window: no sound server: %d\n", error);
            return 1;
        }
        player = std::thread([&] { play(stream, toneLeft, running); });
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

    const xcb_gcontext_t gc = xcb_generate_id(c);
    const std::uint32_t ink = 0x3060c0;
    xcb_create_gc(c, gc, window, XCB_GC_FOREGROUND, &ink);
    int step = 0;
    auto nextDraw = std::chrono::steady_clock::now();
    const int fd = xcb_get_file_descriptor(c);
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {0, POLLIN, 0}};
        int wait = -1;
        if (busy) {
            const auto now = std::chrono::steady_clock::now();
            if (now >= nextDraw) {
                // Stripes that move a little each time: changing content all over the band.
                xcb_clear_area(c, 0, window, 0, 0, std::uint16_t(w), std::uint16_t(h / 4));
                std::vector<xcb_rectangle_t> stripes;
                for (int x = (step * 7) % 24; x < w; x += 24)
                    stripes.push_back({std::int16_t(x), 0, 12, std::uint16_t(h / 4)});
                xcb_poly_fill_rectangle(c, window, gc, std::uint32_t(stripes.size()),
                                        stripes.data());
                xcb_flush(c);
                ++step;
                nextDraw += std::chrono::milliseconds(33);
            }
            wait = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                           nextDraw - std::chrono::steady_clock::now())
                           .count());
            wait = std::max(wait, 0);
        }
        if (::poll(fds, 2, wait) < 0) continue;
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
                if (stream) toneLeft = rate / 5;
                std::fflush(stdout);
            }
            std::free(e);
        }
        if (xcb_connection_has_error(c)) break;
    }
    xcb_disconnect(c);
    running = false;
    if (player.joinable()) player.join();
    if (stream) pa_simple_free(stream);
    return 0;
}
