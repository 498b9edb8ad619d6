#include "Handtrace/track_files.h"

#include "platform/core/atomic_file.h"
#include "platform/core/document_file.h"

#include <nlohmann/json.hpp>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <fcntl.h>
#include <limits>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace qv {

namespace {

namespace fs = std::filesystem;
using OrderedJson = nlohmann::ordered_json;
using Json = nlohmann::json;

// ---- Encoding ----

bool allFinite(std::initializer_list<double> values) {
    for (double v : values)
        if (!std::isfinite(v)) return false;
    return true;
}

// nlohmann writes non-finite numbers as null, which no reader accepts, so they are refused
// before they reach it; invalid UTF-8 makes dump() throw.
std::optional<std::string> dump(const OrderedJson &document) {
    try {
        return document.dump();
    } catch (const nlohmann::json::exception &) {
        return std::nullopt;
    }
}

template <class Record> OrderedJson positioned(const Record &r) {
    OrderedJson o = OrderedJson::object();
    o["tMs"] = r.tMs;
    o["x"] = r.x;
    o["y"] = r.y;
    o["screenW"] = r.screenW;
    o["screenH"] = r.screenH;
    o["displayId"] = r.displayId;
    return o;
}

template <class Record> bool finitePosition(const Record &r) {
    return allFinite({r.x, r.y, r.screenW, r.screenH});
}

// ---- Decoding ----

// Thrown inside a decoder and turned into an Error at its boundary.
class DecodeFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::string describe(const Json &value) {
    switch (value.type()) {
    case Json::value_t::null:
        return "null";
    case Json::value_t::object:
        return "an object";
    case Json::value_t::array:
        return "an array";
    case Json::value_t::string:
        return "a string";
    case Json::value_t::boolean:
        return "a boolean";
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned:
    case Json::value_t::number_float:
        return "the number " + value.dump();
    default:
        return "an unreadable value";
    }
}

class Reader {
public:
    explicit Reader(std::string_view source) : source_(source) {}

    [[noreturn]] void fail(const std::string &path, const std::string &problem) const {
        throw DecodeFailure(source_ + ": " + (path.empty() ? "" : path + ": ") + problem);
    }

    Json parse(std::string_view text) const {
        Json root;
        try {
            root = Json::parse(text.begin(), text.end());
        } catch (const nlohmann::json::exception &e) {
            // A syntax error, or a number too large for a double (1e400).
            fail("", std::string("not valid JSON (") + e.what() + ")");
        }
        if (!root.is_object()) fail("", "expected an object, found " + describe(root));
        return root;
    }

    const Json &member(const Json &object, const std::string &parent, const char *key) const {
        const std::string path = parent.empty() ? key : parent + "." + key;
        auto it = object.find(key);
        if (it == object.end()) fail(path, "missing");
        return *it;
    }

    const Json &array(const Json &object, const std::string &parent, const char *key) const {
        const Json &v = member(object, parent, key);
        if (!v.is_array()) fail(key, "expected an array, found " + describe(v));
        return v;
    }

    const Json &element(const Json &array, const char *key, std::size_t index,
                        std::string &path) const {
        path = std::string(key) + "[" + std::to_string(index) + "]";
        const Json &v = array[index];
        if (!v.is_object()) fail(path, "expected an object, found " + describe(v));
        return v;
    }

    double number(const Json &object, const std::string &parent, const char *key) const {
        const Json &v = member(object, parent, key);
        if (!v.is_number()) fail(parent + "." + key, "expected a number, found " + describe(v));
        const double d = v.get<double>();
        // Positions are drawn in single precision; a larger value would become infinite there.
        if (!(std::abs(d) <= double(std::numeric_limits<float>::max())))
            fail(parent + "." + key, "out of range, found " + describe(v));
        return d;
    }

    // Whole numbers written as decimals (3000.0) are accepted; fractions are not, nor times
    // beyond 2^60 ms (36 million years), so that sums and differences of times never overflow.
    std::int64_t integer(const Json &object, const std::string &parent, const char *key) const {
        constexpr std::int64_t largest = std::int64_t(1) << 60;
        const Json &v = member(object, parent, key);
        const std::string path = parent + "." + key;
        std::int64_t t = 0;
        if (v.is_number_unsigned()) {
            if (v.get<std::uint64_t>() > std::uint64_t(largest)) fail(path, "out of range");
            t = static_cast<std::int64_t>(v.get<std::uint64_t>());
        } else if (v.is_number_integer()) {
            t = v.get<std::int64_t>();
        } else if (v.is_number_float()) {
            const double d = v.get<double>();
            if (std::trunc(d) != d) fail(path, "expected an integer, found " + describe(v));
            if (!(std::abs(d) <= double(largest))) fail(path, "out of range");
            t = static_cast<std::int64_t>(d);
        } else {
            fail(path, "expected an integer, found " + describe(v));
        }
        if (t > largest || t < -largest) fail(path, "out of range");
        return t;
    }

    std::string text(const Json &object, const std::string &parent, const char *key) const {
        const Json &v = member(object, parent, key);
        if (!v.is_string()) fail(parent + "." + key, "expected a string, found " + describe(v));
        return v.get<std::string>();
    }

private:
    std::string source_;
};

template <class T, class Decode>
Result<T> decodeWith(std::string_view json, std::string_view source, Decode decode) {
    try {
        Reader reader(source);
        return decode(reader, reader.parse(json));
    } catch (const DecodeFailure &e) {
        return Error{e.what()};
    } catch (const std::bad_alloc &) {
        return Error{std::string(source) + ": not enough memory to read the file"};
    } catch (const nlohmann::json::exception &e) {
        return Error{std::string(source) + ": " + e.what()};
    }
}

template <class T> Result<T> loadFrom(const fs::path &directory) {
    auto text = platform::readDocumentFile(directory, T::fileName);
    if (!text) return text.error();
    if (!text->has_value()) return T{}; // nothing of its kind was recorded
    return T::decode(**text, (directory / T::fileName).string());
}

template <class Record>
void readPosition(const Reader &r, const Json &o, const std::string &path, Record &out) {
    out.tMs = r.integer(o, path, "tMs");
    out.x = r.number(o, path, "x");
    out.y = r.number(o, path, "y");
    out.screenW = r.number(o, path, "screenW");
    out.screenH = r.number(o, path, "screenH");
    out.displayId = r.text(o, path, "displayId");
}

} // namespace

std::optional<std::string> ClicksFile::encode() const {
    OrderedJson list = OrderedJson::array();
    for (const Click &c : clicks) {
        if (!finitePosition(c)) return std::nullopt;
        OrderedJson o = positioned(c);
        o["button"] = c.button;
        list.push_back(std::move(o));
    }
    OrderedJson document = OrderedJson::object();
    document["clicks"] = std::move(list);
    return dump(document);
}

Result<ClicksFile> ClicksFile::decode(std::string_view json, std::string_view source) {
    return decodeWith<ClicksFile>(json, source, [](const Reader &r, const Json &root) {
        ClicksFile file;
        const Json &list = r.array(root, "", "clicks");
        std::string path;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Json &o = r.element(list, "clicks", i, path);
            Click c;
            readPosition(r, o, path, c);
            c.button = r.text(o, path, "button");
            file.clicks.push_back(std::move(c));
        }
        return file;
    });
}

Result<ClicksFile> ClicksFile::load(const fs::path &directory) {
    return loadFrom<ClicksFile>(directory);
}

std::optional<std::string> CursorFile::encode() const {
    OrderedJson sampleList = OrderedJson::array();
    for (const Sample &s : samples) {
        if (!finitePosition(s)) return std::nullopt;
        sampleList.push_back(positioned(s));
    }
    OrderedJson kindList = OrderedJson::array();
    for (const KindSample &k : kinds) {
        OrderedJson o = OrderedJson::object();
        o["tMs"] = k.tMs;
        o["kind"] = k.kind;
        kindList.push_back(std::move(o));
    }
    OrderedJson document = OrderedJson::object();
    document["samples"] = std::move(sampleList);
    document["kinds"] = std::move(kindList);
    return dump(document);
}

Result<CursorFile> CursorFile::decode(std::string_view json, std::string_view source) {
    return decodeWith<CursorFile>(json, source, [](const Reader &r, const Json &root) {
        CursorFile file;
        const Json &samples = r.array(root, "", "samples");
        const Json &kinds = r.array(root, "", "kinds");
        std::string path;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            const Json &o = r.element(samples, "samples", i, path);
            Sample s;
            readPosition(r, o, path, s);
            file.samples.push_back(std::move(s));
        }
        for (std::size_t i = 0; i < kinds.size(); ++i) {
            const Json &o = r.element(kinds, "kinds", i, path);
            KindSample k;
            k.tMs = r.integer(o, path, "tMs");
            k.kind = r.text(o, path, "kind");
            file.kinds.push_back(std::move(k));
        }
        return file;
    });
}

Result<CursorFile> CursorFile::load(const fs::path &directory) {
    return loadFrom<CursorFile>(directory);
}

std::optional<std::string> KeysFile::encode() const {
    OrderedJson list = OrderedJson::array();
    for (const Entry &e : keys) {
        OrderedJson o = OrderedJson::object();
        o["tMs"] = e.tMs;
        o["chord"] = e.chord;
        list.push_back(std::move(o));
    }
    OrderedJson document = OrderedJson::object();
    document["keys"] = std::move(list);
    return dump(document);
}

Result<KeysFile> KeysFile::decode(std::string_view json, std::string_view source) {
    return decodeWith<KeysFile>(json, source, [](const Reader &r, const Json &root) {
        KeysFile file;
        const Json &list = r.array(root, "", "keys");
        std::string path;
        for (std::size_t i = 0; i < list.size(); ++i) {
            const Json &o = r.element(list, "keys", i, path);
            Entry e;
            e.tMs = r.integer(o, path, "tMs");
            e.chord = r.text(o, path, "chord");
            file.keys.push_back(std::move(e));
        }
        return file;
    });
}

Result<KeysFile> KeysFile::load(const fs::path &directory) {
    return loadFrom<KeysFile>(directory);
}

bool replaceFileAtomically(const fs::path &file, std::string_view contents) {
    return platform::writeFileAtomically(file, contents).ok();
}

std::vector<std::string> writeTrackFiles(const fs::path &directory, const ClicksFile &clicks,
                                         const CursorFile &cursor, const KeysFile &keys) {
    std::vector<std::string> written;
    auto write = [&](std::string_view name, const std::optional<std::string> &text) {
        if (text && replaceFileAtomically(directory / name, *text)) written.emplace_back(name);
    };
    // Each file fails on its own: an unencodable or unwritable one does not stop the next.
    if (!clicks.clicks.empty()) write(ClicksFile::fileName, clicks.encode());
    if (!cursor.samples.empty()) write(CursorFile::fileName, cursor.encode());
    if (!keys.keys.empty()) write(KeysFile::fileName, keys.encode());
    return written;
}

} // namespace qv
