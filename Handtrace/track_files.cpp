#include "Handtrace/track_files.h"

#include "platform/core/atomic_file.h"
#include "platform/core/document_file.h"
#include "platform/core/json_document.h"

namespace qv {

namespace {

namespace fs = std::filesystem;
using platform::json::Decoder;
using platform::json::elementPath;
using Json = platform::json::Value;

// ---- Encoding ----

template <class Record> Json positioned(const Record &r) {
    Json o = Json::object();
    o["tMs"] = r.tMs;
    o["x"] = r.x;
    o["y"] = r.y;
    o["screenW"] = r.screenW;
    o["screenH"] = r.screenH;
    o["displayId"] = r.displayId;
    return o;
}

// {"tMs": t, key: text}
Json timed(std::int64_t tMs, const char *key, const std::string &text) {
    Json o = Json::object();
    o["tMs"] = tMs;
    o[key] = text;
    return o;
}

Json documentOf(const ClicksFile &file) {
    Json list = Json::array();
    for (const ClicksFile::Click &c : file.clicks) {
        Json o = positioned(c);
        o["button"] = c.button;
        list.push_back(std::move(o));
    }
    Json document = Json::object();
    document["clicks"] = std::move(list);
    return document;
}

Json documentOf(const CursorFile &file) {
    Json sampleList = Json::array();
    for (const CursorFile::Sample &s : file.samples) sampleList.push_back(positioned(s));
    Json kindList = Json::array();
    for (const CursorFile::KindSample &k : file.kinds)
        kindList.push_back(timed(k.tMs, "kind", k.kind));
    Json document = Json::object();
    document["samples"] = std::move(sampleList);
    document["kinds"] = std::move(kindList);
    return document;
}

Json documentOf(const KeysFile &file) {
    Json list = Json::array();
    for (const KeysFile::Entry &e : file.keys) list.push_back(timed(e.tMs, "chord", e.chord));
    Json document = Json::object();
    document["keys"] = std::move(list);
    return document;
}

// Compact text; fails naming the member when a number is not finite or a text is not UTF-8.
template <class File> Result<std::string> encodeFile(const File &file) {
    return platform::json::dumpChecked(documentOf(file), std::string(File::fileName));
}

// ---- Decoding ----

template <class T, class Decode>
Result<T> decodeWith(std::string_view json, std::string_view source, Decode decode) {
    const std::string name(source);
    return platform::json::guardedDecode<T>(name, [&] {
        Decoder d(name);
        return decode(d, d.parseObject(json));
    });
}

// Calls `each(element, path)` for every element of the required array `key`; each must be an
// object holding all of `members`.
template <class F>
void forEachRecord(const Decoder &d, const Json &root, std::string_view key,
                   std::initializer_list<std::string_view> members, F &&each) {
    const Json &list = d.asArray(d.require(root, "", key), key);
    for (std::size_t i = 0; i < list.size(); ++i) {
        const std::string path = elementPath(key, i);
        const Json &o = d.asObject(list[i], path);
        d.requireAll(o, path, members);
        each(o, path);
    }
}

template <class T> Result<T> loadFrom(const fs::path &directory) {
    auto text = platform::readDocumentFile(directory, T::fileName);
    if (!text) return text.error();
    if (!text->has_value()) return T{}; // nothing of its kind was recorded
    return T::decode(**text, (directory / T::fileName).string());
}

template <class Record>
void readPosition(const Decoder &d, const Json &o, const std::string &path, Record &out) {
    d.readRequired(o, path, "tMs", out.tMs);
    d.readRequired(o, path, "x", out.x);
    d.readRequired(o, path, "y", out.y);
    d.readRequired(o, path, "screenW", out.screenW);
    d.readRequired(o, path, "screenH", out.screenH);
    d.readRequired(o, path, "displayId", out.displayId);
}

} // namespace

Result<std::string> ClicksFile::encode() const {
    return encodeFile(*this);
}

Result<std::string> CursorFile::encode() const {
    return encodeFile(*this);
}

Result<std::string> KeysFile::encode() const {
    return encodeFile(*this);
}

Result<ClicksFile> ClicksFile::decode(std::string_view json, std::string_view source) {
    return decodeWith<ClicksFile>(json, source, [](const Decoder &d, const Json &root) {
        ClicksFile file;
        forEachRecord(d, root, "clicks",
                      {"tMs", "x", "y", "screenW", "screenH", "displayId", "button"},
                      [&](const Json &o, const std::string &path) {
                          Click c;
                          readPosition(d, o, path, c);
                          d.readRequired(o, path, "button", c.button);
                          file.clicks.push_back(std::move(c));
                      });
        return file;
    });
}

Result<ClicksFile> ClicksFile::load(const fs::path &directory) {
    return loadFrom<ClicksFile>(directory);
}

Result<CursorFile> CursorFile::decode(std::string_view json, std::string_view source) {
    return decodeWith<CursorFile>(json, source, [](const Decoder &d, const Json &root) {
        CursorFile file;
        d.requireAll(root, "", {"samples", "kinds"});
        forEachRecord(d, root, "samples", {"tMs", "x", "y", "screenW", "screenH", "displayId"},
                      [&](const Json &o, const std::string &path) {
                          Sample s;
                          readPosition(d, o, path, s);
                          file.samples.push_back(std::move(s));
                      });
        forEachRecord(d, root, "kinds", {"tMs", "kind"},
                      [&](const Json &o, const std::string &path) {
                          KindSample k;
                          d.readRequired(o, path, "tMs", k.tMs);
                          d.readRequired(o, path, "kind", k.kind);
                          file.kinds.push_back(std::move(k));
                      });
        return file;
    });
}

Result<CursorFile> CursorFile::load(const fs::path &directory) {
    return loadFrom<CursorFile>(directory);
}

Result<KeysFile> KeysFile::decode(std::string_view json, std::string_view source) {
    return decodeWith<KeysFile>(json, source, [](const Decoder &d, const Json &root) {
        KeysFile file;
        forEachRecord(d, root, "keys", {"tMs", "chord"},
                      [&](const Json &o, const std::string &path) {
                          Entry e;
                          d.readRequired(o, path, "tMs", e.tMs);
                          d.readRequired(o, path, "chord", e.chord);
                          file.keys.push_back(std::move(e));
                      });
        return file;
    });
}

Result<KeysFile> KeysFile::load(const fs::path &directory) {
    return loadFrom<KeysFile>(directory);
}

Result<std::vector<std::string>> writeTrackFiles(const fs::path &directory,
                                                 const ClicksFile &clicks, const CursorFile &cursor,
                                                 const KeysFile &keys) {
    std::vector<std::string> written;
    std::string problems;
    auto write = [&](std::string_view name, const Json &document) {
        const fs::path file = directory / name;
        auto text = platform::json::dumpChecked(document, file.string());
        const Status done =
            text ? platform::writeFileAtomically(file, *text) : Status(text.error());
        if (done) {
            written.emplace_back(name);
            return;
        }
        if (!problems.empty()) problems += "; ";
        problems += done.error().message;
    };
    // Each file fails on its own: an unencodable or unwritable one does not stop the next.
    if (!clicks.clicks.empty()) write(ClicksFile::fileName, documentOf(clicks));
    if (!cursor.samples.empty()) write(CursorFile::fileName, documentOf(cursor));
    if (!keys.keys.empty()) write(KeysFile::fileName, documentOf(keys));
    if (!problems.empty()) return Error{problems};
    return written;
}

} // namespace qv
