#include "interfaces/persistence/recording.h"

#include "interfaces/persistence/json_io.h"
#include "interfaces/persistence/window_crop.h"
#include "platform/core/atomic_file.h"

#include <cstdlib>
#include <mutex>
#include <pwd.h>
#include <system_error>
#include <unistd.h>

namespace qv {

using persistence::DecodeFailure;
using persistence::Decoder;
using persistence::Json;

namespace {

constexpr int kFormatVersion = 1;

RecordingMeta decodeMeta(const Decoder &d, const Json &root) {
    d.readFormatVersion(root);
    d.requireAll(root, "", {"id", "durationMs", "width", "height"});
    RecordingMeta m;
    d.readRequired(root, "", "id", m.id);
    // The identifier names the recording's folder.
    if (!isContainedFileName(m.id)) d.fail("id", "\"" + m.id + "\" is not a plain name");
    d.readRequired(root, "", "durationMs", m.durationMs);
    if (m.durationMs < 0)
        d.fail("durationMs", "must not be negative, found " + std::to_string(m.durationMs));
    d.readRequired(root, "", "width", m.width);
    d.readRequired(root, "", "height", m.height);
    if (m.width <= 0) d.fail("width", "must be positive, found " + std::to_string(m.width));
    if (m.height <= 0) d.fail("height", "must be positive, found " + std::to_string(m.height));
    d.read(root, "", "createdAtMs", m.createdAtMs);
    d.read(root, "", "sourceName", m.sourceName);
    d.read(root, "", "hasWebcam", m.hasWebcam);
    d.read(root, "", "hasMicrophone", m.hasMicrophone);
    d.read(root, "", "cursorSynthetic", m.cursorSynthetic);
    d.read(root, "", "windowCropFile", m.windowCropFile);
    if (m.windowCropFile && !isContainedFileName(*m.windowCropFile))
        d.fail("windowCropFile", "\"" + *m.windowCropFile + "\" is not a plain file name");
    return m;
}

std::mutex overrideMutex;
std::optional<std::filesystem::path> libraryOverride;

std::string environment(const char *name) {
    const char *value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

std::filesystem::path homeDirectory() {
    std::string home = environment("HOME");
    if (!home.empty()) return home;
    // Services may run without HOME; the password database still knows.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::string buffer(size > 0 ? static_cast<std::size_t>(size) : 16384, '\0');
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return ".";
}

} // namespace

Result<RecordingMeta> RecordingMeta::decode(std::string_view json, const std::string &source) {
    return persistence::guardedDecode<RecordingMeta>(source, [&] {
        Decoder d(source);
        return decodeMeta(d, d.parseObject(json));
    });
}

std::string RecordingMeta::encode() const {
    Json root = Json::object();
    root["formatVersion"] = kFormatVersion;
    root["id"] = id;
    root["createdAtMs"] = createdAtMs;
    root["durationMs"] = durationMs;
    root["sourceName"] = sourceName;
    root["width"] = width;
    root["height"] = height;
    root["hasWebcam"] = hasWebcam;
    root["hasMicrophone"] = hasMicrophone;
    root["cursorSynthetic"] = cursorSynthetic;
    if (windowCropFile) root["windowCropFile"] = *windowCropFile;
    return root.dump(2) + "\n";
}

Result<RecordingMeta> RecordingMeta::read(const std::filesystem::path &directory) {
    const std::filesystem::path file = directory / fileName;
    auto text = persistence::readTextFile(file);
    if (!text) return text.error();
    return decode(*text, file.string());
}

Result<RecordingMeta> RecordingMeta::readFromRecording(const std::filesystem::path &directory) {
    auto meta = read(directory);
    if (!meta) return meta;
    const std::string folder = RecordingStore::idForFolder(directory);
    if (meta->id != folder)
        return Error{(directory / fileName).string() + ": id: \"" + meta->id +
                     "\" does not match the folder name \"" + folder + "\""};
    return meta;
}

Status RecordingMeta::write(const std::filesystem::path &directory) const {
    return platform::writeFileAtomically(directory / fileName, encode());
}

namespace RecordingStore {

std::filesystem::path libraryDirectory() {
    {
        std::lock_guard lock(overrideMutex);
        if (libraryOverride) return *libraryOverride;
    }
    std::string library = environment("QUILLVANE_LIBRARY");
    if (!library.empty()) return library;
    // A relative data home is to be ignored, as the base-directory convention says.
    std::filesystem::path dataHome = environment("XDG_DATA_HOME");
    if (!dataHome.empty() && dataHome.is_absolute()) return dataHome / "quillvane";
    return homeDirectory() / ".local" / "share" / "quillvane";
}

void setLibraryDirectory(std::optional<std::filesystem::path> directory) {
    std::lock_guard lock(overrideMutex);
    libraryOverride = std::move(directory);
}

std::filesystem::path recordingsDirectory() {
    return libraryDirectory() / "recordings";
}

std::string idForFolder(const std::filesystem::path &directory) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(directory, ec);
    if (ec) path = directory;
    path = path.lexically_normal();
    if (!path.has_filename()) path = path.parent_path();
    return path.filename().string();
}

Result<std::filesystem::path> recordingDirectory(const std::string &forId, bool create) {
    if (!isContainedFileName(forId))
        return Error{"recording id \"" + forId + "\" is not a plain name"};
    const std::filesystem::path recordings = recordingsDirectory();
    const std::filesystem::path folder = recordings / forId;
    std::error_code ec;
    if (create) {
        std::filesystem::create_directories(folder, ec);
        if (ec) return Error{folder.string() + ": cannot create the folder: " + ec.message()};
        return folder;
    }
    if (!std::filesystem::is_directory(folder, ec))
        return Error{"Recording not found: \"" + forId + "\" (looked in " + recordings.string() +
                     ")"};
    return folder;
}

} // namespace RecordingStore

} // namespace qv
