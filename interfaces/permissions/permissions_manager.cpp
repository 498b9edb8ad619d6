#include "interfaces/permissions/permissions_manager.h"

#include <X11/Xlib.h>
// Xlib defines Status as a macro; this file means PermissionsManager::Status.
#undef Status

#include <cstdlib>
#include <stdexcept>
#include <system_error>

namespace qv {

namespace fs = std::filesystem;

namespace {

bool xDisplayOpens(const std::string &name) {
    Display *display = XOpenDisplay(name.c_str());
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

bool xDisplayHasInputExtensions(const std::string &name) {
    Display *display = XOpenDisplay(name.c_str());
    if (!display) return false;
    int opcode = 0, event = 0, error = 0;
    const bool xi = XQueryExtension(display, "XInputExtension", &opcode, &event, &error);
    const bool record = XQueryExtension(display, "RECORD", &opcode, &event, &error);
    XCloseDisplay(display);
    return xi && record;
}

std::vector<fs::path> listFolder(const fs::path &folder) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec))
        out.push_back(it->path());
    return out;
}

} // namespace

PermissionsManager::Probe PermissionsManager::Probe::system() {
    Probe p;
    p.environment = [](const char *name) -> std::optional<std::string> {
        const char *value = std::getenv(name);
        if (!value || !*value) return std::nullopt;
        return std::string(value);
    };
    p.displayOpens = xDisplayOpens;
    p.displayHasInputExtensions = xDisplayHasInputExtensions;
    p.list = listFolder;
    p.exists = [](const fs::path &path) {
        std::error_code ec;
        return fs::exists(path, ec);
    };
    return p;
}

PermissionsManager::PermissionsManager(Probe probe) : probe_(std::move(probe)) {
    // Answers exist from the start; refreshAll() is what the activation handler calls.
    refreshAll();
    refreshCount_ = 0;
}

const char *PermissionsManager::name(Capability capability) {
    switch (capability) {
    case Capability::display:
        return "Screen recording";
    case Capability::inputCapture:
        return "Input capture";
    case Capability::microphone:
        return "Microphone";
    case Capability::camera:
        return "Camera";
    }
    return "?";
}

void PermissionsManager::refreshAll() {
    std::vector<Check> checks;
    const auto display = probe_.environment("DISPLAY");
    const auto wayland = probe_.environment("WAYLAND_DISPLAY");

    Check screen{Capability::display, Status::unavailable, {}, {}};
    Check input{Capability::inputCapture, Status::unavailable, {}, {}};
    if (display && probe_.displayOpens(*display)) {
        screen.status = Status::granted;
        screen.detail = "X11 display " + *display;
        if (probe_.displayHasInputExtensions(*display)) {
            input.status = Status::granted;
            input.detail = "XInput and RECORD on " + *display;
        } else {
            input.detail = "the X server of " + *display + " lacks XInput or RECORD";
            input.advice = "Run an X server with the XInput and RECORD extensions.";
        }
    } else if (wayland) {
        screen.detail = "a Wayland session (" + *wayland + ") without X11";
        screen.advice = "Log in to an X11 session (\"GNOME on Xorg\" or similar) to record.";
        input.detail = screen.detail;
        input.advice = "Wayland does not let applications see global input; use an X11 session.";
    } else {
        screen.detail = display ? "the X11 display " + *display + " does not accept connections"
                                : "no display (DISPLAY is not set)";
        screen.advice = "Start the application inside an X11 session.";
        input.detail = screen.detail;
        input.advice = screen.advice;
    }
    checks.push_back(screen);
    checks.push_back(input);

    // PulseAudio, or PipeWire's Pulse server: the socket it listens on.
    Check mic{Capability::microphone, Status::unavailable, {}, {}};
    std::optional<fs::path> pulseSocket;
    if (auto server = probe_.environment("PULSE_SERVER")) {
        mic.status = Status::granted;
        mic.detail = "sound server " + *server;
    } else if (auto runtime = probe_.environment("XDG_RUNTIME_DIR")) {
        pulseSocket = fs::path(*runtime) / "pulse" / "native";
        if (probe_.exists(*pulseSocket)) {
            mic.status = Status::granted;
            mic.detail = "sound server at " + pulseSocket->string();
        }
    }
    if (mic.status != Status::granted) {
        mic.detail = pulseSocket ? "no sound server at " + pulseSocket->string()
                                 : "no sound server (neither PULSE_SERVER nor XDG_RUNTIME_DIR)";
        mic.advice = "Start PulseAudio or PipeWire's Pulse server (pipewire-pulse).";
    }
    checks.push_back(mic);

    Check camera{Capability::camera, Status::unavailable, {}, {}};
    for (const fs::path &entry : probe_.list("/dev")) {
        if (entry.filename().string().rfind("video", 0) == 0) {
            camera.status = Status::granted;
            camera.detail = "camera " + entry.string();
            break;
        }
    }
    if (camera.status != Status::granted) {
        camera.detail = "no /dev/video* device";
        camera.advice = "Connect a camera, or add your user to the \"video\" group and log in "
                        "again.";
    }
    checks.push_back(camera);

    checks_ = std::move(checks);
    ++refreshCount_;
    auto observers = observers_;
    for (auto &[id, observer] : observers) observer();
}

const PermissionsManager::Check &PermissionsManager::check(Capability capability) const {
    for (const Check &c : checks_)
        if (c.capability == capability) return c;
    throw std::logic_error("every capability is checked");
}

bool PermissionsManager::allGranted() const {
    for (const Check &c : checks_)
        if (c.status != Status::granted) return false;
    return true;
}

int PermissionsManager::observe(std::function<void()> observer) {
    const int id = nextObserver_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void PermissionsManager::removeObserver(int id) {
    observers_.erase(id);
}

} // namespace qv
