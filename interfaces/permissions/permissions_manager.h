// What this desktop lets the application do: show and capture an X11 display, capture global
// input, record a microphone and a camera. Each answer comes with what to do when it is "no".
// On a Wayland session without X11, display capture and input capture are unavailable.
//
// Thread safety: one thread (the application's main thread). refreshAll() asks the system again;
// the answers are kept until the next refresh.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class PermissionsManager {
public:
    enum class Capability { display, inputCapture, microphone, camera };
    enum class Status { granted, unavailable };

    struct Check {
        Capability capability;
        Status status = Status::unavailable;
        std::string detail; // what was found, e.g. "X11 display :0"
        std::string advice; // what to do when unavailable; empty when granted
    };

    // The facts the checks read, so that tests can give their own.
    struct Probe {
        std::function<std::optional<std::string>(const char *)> environment;
        // Whether an X11 display of that name accepts a connection, and whether its server has
        // the input extensions the recorder uses (XInputExtension, RECORD).
        std::function<bool(const std::string &)> displayOpens;
        std::function<bool(const std::string &)> displayHasInputExtensions;
        std::function<std::vector<std::filesystem::path>(const std::filesystem::path &)> list;
        std::function<bool(const std::filesystem::path &)> exists;

        static Probe system();
    };

    explicit PermissionsManager(Probe probe = Probe::system());

    // Asks the system again; observers are told afterwards.
    void refreshAll();
    int refreshCount() const noexcept { return refreshCount_; }

    const std::vector<Check> &checks() const noexcept { return checks_; }
    const Check &check(Capability capability) const;
    bool allGranted() const;

    int observe(std::function<void()> observer);
    void removeObserver(int id);

    static const char *name(Capability capability);

private:
    Probe probe_;
    std::vector<Check> checks_;
    int refreshCount_ = 0;
    std::map<int, std::function<void()>> observers_;
    int nextObserver_ = 1;
};

} // namespace qv
