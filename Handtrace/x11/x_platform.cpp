// InputPlatform on X11.
#include "Handtrace/input_platform.h"
#include "Handtrace/x11/x_cursor_source.h"
#include "Handtrace/x11/x_event_tap.h"

#include "platform/core/log.h"

namespace qv {

namespace {

class XPlatform final : public InputPlatform {
public:
    double now() override { return hostSeconds(); }

    std::shared_ptr<EventTap> createTap(EventTap::Handler handler) override {
        std::string why;
        auto tap = x11::XEventTap::open(std::move(handler), why);
        if (!tap) log_.info("X11 input capture refused: %s", why.c_str());
        return tap;
    }

    std::unique_ptr<CursorSource> openCursorSource() override { return x11::XCursorSource::open(); }

    std::optional<Rect> desktopBounds() override {
        std::string why;
        auto connection = x11::Connection::open(why);
        if (!connection) return std::nullopt;
        const xcb_screen_t &s = connection->screen();
        return Rect{0, 0, double(s.width_in_pixels), double(s.height_in_pixels)};
    }

private:
    platform::Logger log_{"com.quillvane", "InputEventTap"};
};

} // namespace

std::shared_ptr<InputPlatform> InputPlatform::x11() {
    return std::make_shared<XPlatform>();
}

} // namespace qv
