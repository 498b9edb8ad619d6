#include "interfaces/persistence/library_store.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <system_error>

namespace qv {

namespace fs = std::filesystem;

namespace {

bool isPlainName(const std::string &name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos && name.size() <= 255;
}

// Percent-encodes a path for the trash record's Path key (an RFC 2396 URI path).
std::string uriPath(const std::string &path) {
    static const char *hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : path) {
        if (std::isalnum(c) || std::strchr("/-_.~!$&'()*+,;=:@", c)) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string localTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

Status writeNew(const fs::path &file, const std::string &contents) {
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return Error{"cannot create " + file.string() + ": " + std::strerror(errno)};
    const char *p = contents.data();
    std::size_t left = contents.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            const std::string why = std::strerror(errno);
            ::close(fd);
            ::unlink(file.c_str());
            return Error{"cannot write " + file.string() + ": " + why};
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        ::unlink(file.c_str());
        return Error{"cannot write " + file.string() + ": " + std::strerror(errno)};
    }
    return Ok{};
}

} // namespace

LibraryStore::LibraryStore(std::optional<fs::path> recordingsFolder)
    : folder_(std::move(recordingsFolder)) {
}

fs::path LibraryStore::recordingsFolder() const {
    return folder_ ? *folder_ : RecordingStore::recordingsDirectory();
}

Status LibraryStore::refresh() {
    const fs::path folder = recordingsFolder();
    std::vector<Item> items;
    std::error_code ec;
    if (!fs::exists(folder, ec)) {
        items_.clear();
        return Ok{};
    }
    fs::directory_iterator it(folder, ec);
    if (ec) return Error{"cannot read the library folder " + folder.string() + ": " + ec.message()};
    for (const fs::directory_entry &entry : it) {
        std::error_code typeError;
        if (!entry.is_directory(typeError)) continue;
        Item item;
        item.folder = entry.path();
        item.id = entry.path().filename().string();
        auto meta = RecordingMeta::readFromRecording(entry.path());
        if (meta)
            item.meta = std::move(*meta);
        else
            item.problem = meta.error().message;
        items.push_back(std::move(item));
    }
    std::sort(items.begin(), items.end(), [](const Item &a, const Item &b) {
        if (a.meta.has_value() != b.meta.has_value()) return a.meta.has_value();
        if (a.meta && a.meta->createdAtMs != b.meta->createdAtMs)
            return a.meta->createdAtMs > b.meta->createdAtMs;
        return a.id < b.id;
    });
    items_ = std::move(items);
    return Ok{};
}

const LibraryStore::Item *LibraryStore::item(const std::string &id) const {
    for (const Item &i : items_)
        if (i.id == id) return &i;
    return nullptr;
}

Status LibraryStore::rename(const std::string &id, const std::string &newId) {
    if (!isPlainName(newId))
        return Error{"\"" + newId + "\" cannot name a recording: use a name without \"/\""};
    if (newId == id) return Ok{};
    const fs::path folder = recordingsFolder();
    const fs::path from = folder / id, to = folder / newId;
    auto meta = RecordingMeta::readFromRecording(from);
    if (!meta) return meta.error();
    std::error_code ec;
    if (fs::exists(to, ec)) return Error{"a recording named \"" + newId + "\" exists already"};
    // renameat2 with RENAME_NOREPLACE would close the window between the check and the rename;
    // a second library writer at the same moment is not a case this store serves.
    fs::rename(from, to, ec);
    if (ec) return Error{"cannot rename " + from.string() + " to " + newId + ": " + ec.message()};
    RecordingMeta renamed = *meta;
    renamed.id = newId;
    if (auto written = renamed.write(to); !written) {
        std::error_code back;
        fs::rename(to, from, back);
        return written.error();
    }
    return refresh();
}

fs::path LibraryStore::trashDirectory() {
    const char *data = std::getenv("XDG_DATA_HOME");
    if (data && *data && fs::path(data).is_absolute()) return fs::path(data) / "Trash";
    const char *home = std::getenv("HOME");
    return fs::path(home && *home ? home : ".") / ".local" / "share" / "Trash";
}

Result<fs::path> LibraryStore::moveToTrash(const std::string &id) {
    if (!isPlainName(id)) return Error{"recording id \"" + id + "\" is not a plain name"};
    std::error_code ec;
    const fs::path from = fs::absolute(recordingsFolder() / id, ec);
    if (ec || !fs::is_directory(from, ec))
        return Error{"Recording not found: \"" + id + "\" (looked in " +
                     recordingsFolder().string() + ")"};
    const fs::path trash = trashDirectory();
    const fs::path files = trash / "files", info = trash / "info";
    fs::create_directories(files, ec);
    if (!ec) fs::create_directories(info, ec);
    if (ec) return Error{"cannot create the trash folder " + trash.string() + ": " + ec.message()};

    // The record is created first and exclusively: its name reserves the name in files/.
    const std::string record = "[Trash Info]\nPath=" + uriPath(from.string()) +
                               "\nDeletionDate=" + localTimestamp() + "\n";
    for (int n = 1; n < 10000; ++n) {
        const std::string name = n == 1 ? id : id + "." + std::to_string(n);
        const fs::path infoFile = info / (name + ".trashinfo");
        const fs::path target = files / name;
        if (fs::exists(target, ec)) continue;
        auto created = writeNew(infoFile, record);
        if (!created) {
            if (fs::exists(infoFile, ec)) continue;
            return created.error();
        }
        fs::rename(from, target, ec);
        if (ec) {
            std::error_code ignored;
            fs::remove(infoFile, ignored);
            if (ec == std::errc::cross_device_link)
                return Error{"cannot move " + from.string() +
                             " to the trash: it is on another "
                             "file system than " +
                             trash.string()};
            return Error{"cannot move " + from.string() + " to the trash: " + ec.message()};
        }
        refresh();
        return target;
    }
    return Error{"cannot move " + from.string() + " to the trash: no free name in " +
                 files.string()};
}

} // namespace qv
