#include "interfaces/persistence/settings_store.h"

#include "interfaces/persistence/json_io.h"
#include "platform/core/atomic_file.h"

#include <cstdlib>
#include <system_error>

namespace qv {

namespace {

using persistence::Decoder;
using persistence::Json;

constexpr int kFormatVersion = 1;

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

} // namespace

Result<AppSettings> AppSettings::decode(std::string_view json, const std::string &source) {
    return persistence::guardedDecode<AppSettings>(source, [&] {
        Decoder d(source);
        const Json root = d.parseObject(json);
        d.readFormatVersion(root);
        AppSettings s;
        d.read(root, "", "onboardingComplete", s.onboardingComplete);
        d.read(root, "", "countdownSeconds", s.countdownSeconds);
        if (s.countdownSeconds < 0 || s.countdownSeconds > 10)
            d.fail("countdownSeconds",
                   "must be 0 to 10, found " + std::to_string(s.countdownSeconds));
        d.read(root, "", "showFrameRate", s.showFrameRate);
        d.read(root, "", "teleprompterText", s.teleprompterText);
        return s;
    });
}

std::string AppSettings::encode() const {
    Json root = Json::object();
    root["formatVersion"] = kFormatVersion;
    root["onboardingComplete"] = onboardingComplete;
    root["countdownSeconds"] = countdownSeconds;
    root["showFrameRate"] = showFrameRate;
    root["teleprompterText"] = teleprompterText;
    return root.dump(2) + "\n";
}

SettingsStore::SettingsStore(std::filesystem::path file) : file_(std::move(file)) {
    std::error_code ec;
    if (!std::filesystem::exists(file_, ec) && !ec) return;
    auto text = persistence::readTextFile(file_);
    if (!text) {
        loadError_ = text.error();
        return;
    }
    auto decoded = AppSettings::decode(*text, file_.string());
    if (!decoded) {
        loadError_ = decoded.error();
        return;
    }
    settings_ = std::move(*decoded);
}

std::filesystem::path SettingsStore::defaultFile() {
    if (std::string named = environment("QUILLVANE_SETTINGS"); !named.empty()) return named;
    std::string config = environment("XDG_CONFIG_HOME");
    if (!config.empty() && std::filesystem::path(config).is_absolute())
        return std::filesystem::path(config) / "quillvane" / "settings.json";
    std::string home = environment("HOME");
    return std::filesystem::path(home.empty() ? "." : home) / ".config" / "quillvane" /
           "settings.json";
}

Status SettingsStore::update(const AppSettings &settings) {
    std::error_code ec;
    std::filesystem::create_directories(file_.parent_path(), ec);
    if (ec)
        return Error{"cannot create the settings folder " + file_.parent_path().string() + ": " +
                     ec.message()};
    if (auto written = platform::writeFileAtomically(file_, settings.encode()); !written)
        return written.error();
    settings_ = settings;
    loadError_.reset();
    // A copy: an observer may remove itself.
    auto observers = observers_;
    for (auto &[id, observer] : observers) observer(settings_);
    return Ok{};
}

int SettingsStore::observe(Observer observer) {
    const int id = nextObserver_++;
    observers_.emplace(id, std::move(observer));
    return id;
}

void SettingsStore::removeObserver(int id) {
    observers_.erase(id);
}

} // namespace qv
