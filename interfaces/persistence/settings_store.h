// The user's application settings, kept in "settings.json" of the configuration folder
// ($QUILLVANE_SETTINGS names the file itself; else $XDG_CONFIG_HOME/quillvane/settings.json, else
// ~/.config/quillvane/settings.json). Format: docs/formats.md.
//
// Thread safety: one thread (the application's main thread).
// Lifetime: the store lives for the whole run; observers are called synchronously on update.
#pragma once

#include "platform/core/result.h"

#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

struct AppSettings {
    // The user has seen the first-run page; afterwards the app opens on the library.
    bool onboardingComplete = false;
    // Seconds counted down before a recording starts (0 to 10).
    int countdownSeconds = 3;
    // The frame-rate overlay on the preview.
    bool showFrameRate = false;
    // The teleprompter's script.
    std::string teleprompterText;

    static Result<AppSettings> decode(std::string_view json, const std::string &source);
    std::string encode() const;

    friend bool operator==(const AppSettings &, const AppSettings &) = default;
};

class SettingsStore {
public:
    using Observer = std::function<void(const AppSettings &)>;

    // Reads the file; a missing file gives the defaults, an unreadable one the defaults and
    // loadError() (the file is left alone until the user changes a setting).
    explicit SettingsStore(std::filesystem::path file = defaultFile());

    static std::filesystem::path defaultFile();

    const std::filesystem::path &file() const noexcept { return file_; }
    const AppSettings &settings() const noexcept { return settings_; }
    // Why the file could not be read at start, naming the file, member and problem.
    const std::optional<Error> &loadError() const noexcept { return loadError_; }

    // Writes the file atomically, then takes the new settings and tells the observers. On a
    // failed write nothing changes.
    Status update(const AppSettings &settings);

    int observe(Observer observer);
    void removeObserver(int id);

private:
    std::filesystem::path file_;
    AppSettings settings_;
    std::optional<Error> loadError_;
    std::map<int, Observer> observers_;
    int nextObserver_ = 1;
};

} // namespace qv
