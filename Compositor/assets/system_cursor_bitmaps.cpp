#include "Compositor/assets/system_cursor_bitmaps.h"

#include <mutex>

namespace qv::SystemCursorBitmaps {

namespace {
struct Registry {
    std::mutex mutex;
    std::map<std::string, Entry, std::less<>> table;
};
Registry &registry() {
    static Registry r;
    return r;
}
} // namespace

void registerTable(std::map<std::string, Entry, std::less<>> table) {
    Registry &r = registry();
    {
        std::lock_guard lock(r.mutex);
        r.table.swap(table);
    }
    // The previous table is released here, outside the lock.
}

std::optional<Entry> entry(std::string_view forGlyphName) {
    Registry &r = registry();
    std::lock_guard lock(r.mutex);
    if (r.table.empty()) return std::nullopt;
    auto it = r.table.find(forGlyphName);
    if (it == r.table.end()) return std::nullopt;
    return it->second;
}

} // namespace qv::SystemCursorBitmaps
