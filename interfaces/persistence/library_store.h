// The recordings of the library folder, as the library view lists them: each recording's folder
// with its metadata (or the reason it cannot be read), newest first; renaming a recording
// (its identifier, which is its folder's name) and moving one to the desktop's trash.
//
// Thread safety: one thread at a time. The folder is read anew by every refresh().
#pragma once

#include "interfaces/persistence/recording.h"
#include "platform/core/result.h"

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qv {

class LibraryStore {
public:
    struct Item {
        std::string id;
        std::filesystem::path folder;
        std::optional<RecordingMeta> meta; // absent when "meta.json" cannot be read
        std::string problem;               // why, naming the file, member and problem
    };

    // `recordingsFolder` replaces the library's own (RecordingStore::recordingsDirectory()).
    explicit LibraryStore(std::optional<std::filesystem::path> recordingsFolder = std::nullopt);

    std::filesystem::path recordingsFolder() const;

    // Reads the folder: every sub-folder is an item; readable ones first, newest first (then by
    // id), unreadable ones after them by id. A missing library folder is an empty library.
    Status refresh();
    const std::vector<Item> &items() const noexcept { return items_; }
    const Item *item(const std::string &id) const;

    // Gives recording `id` the identifier `newId`: its folder is renamed and "meta.json" written
    // with the new id. Refuses a name that is not a plain file name or is taken.
    Status rename(const std::string &id, const std::string &newId);

    // Moves the recording's folder to the desktop trash laid out as freedesktop.org describes
    // ($XDG_DATA_HOME/Trash, else ~/.local/share/Trash), with its ".trashinfo" record so that a
    // file manager can restore it. Returns where the folder now is.
    Result<std::filesystem::path> moveToTrash(const std::string &id);

    // The home trash folder used by moveToTrash.
    static std::filesystem::path trashDirectory();

private:
    std::optional<std::filesystem::path> folder_;
    std::vector<Item> items_;
};

} // namespace qv
