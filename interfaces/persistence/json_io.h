// Shared plumbing of the document files: typed member reading with messages that name the file
// and the member path, finite-number checks before writing, and atomic file replacement.
// Internal to the Persistence library.
#pragma once

#include "platform/core/result.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <filesystem>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qv::persistence {

using Json = nlohmann::ordered_json;

// Thrown inside a decoder and turned into an Error at its boundary, so that each member read
// stays one line instead of a chain of early returns.
class DecodeFailure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The largest integer a document may hold (2^60 ms is 36 million years): sums and differences of
// a few times then stay far from 64-bit overflow wherever they are computed.
inline constexpr std::int64_t maxDocumentInteger = std::int64_t(1) << 60;

// "scene" + "crop" -> "scene.crop"; "" + "cuts" -> "cuts".
std::string memberPath(std::string_view parent, std::string_view key);
// "masks" + 2 -> "masks[2]".
std::string elementPath(std::string_view parent, std::size_t index);
// "a string", "an object", ...; numbers are shown with their value.
std::string describe(const Json &value);

// Reads members of one file; every failure names `source` and the member path.
class Decoder {
public:
    explicit Decoder(std::string source) : source_(std::move(source)) {}

    const std::string &source() const noexcept { return source_; }

    // Parses text that must hold a JSON object.
    Json parseObject(std::string_view text) const;

    [[noreturn]] void fail(std::string_view path, std::string_view problem) const;

    // nullptr when the member is missing.
    static const Json *find(const Json &object, std::string_view key);
    // Fails when the member is missing.
    const Json &require(const Json &object, std::string_view parent, std::string_view key) const;

    // The value must be an object / array (path names it for the message).
    const Json &asObject(const Json &value, std::string_view path) const;
    const Json &asArray(const Json &value, std::string_view path) const;

    double asDouble(const Json &value, std::string_view path) const;
    std::int64_t asInt64(const Json &value, std::string_view path) const;
    int asInt(const Json &value, std::string_view path) const;
    bool asBool(const Json &value, std::string_view path) const;
    std::string asString(const Json &value, std::string_view path) const;

    // Optional members: the output keeps its value when the member is missing.
    void read(const Json &object, std::string_view parent, std::string_view key, double &out) const;
    void read(const Json &object, std::string_view parent, std::string_view key,
              std::int64_t &out) const;
    void read(const Json &object, std::string_view parent, std::string_view key, int &out) const;
    void read(const Json &object, std::string_view parent, std::string_view key, bool &out) const;
    void read(const Json &object, std::string_view parent, std::string_view key,
              std::string &out) const;
    // For members that may be absent in the value itself, null also means absent.
    void read(const Json &object, std::string_view parent, std::string_view key,
              std::optional<double> &out) const;
    void read(const Json &object, std::string_view parent, std::string_view key,
              std::optional<std::int64_t> &out) const;
    void read(const Json &object, std::string_view parent, std::string_view key,
              std::optional<std::string> &out) const;

    // Reads "formatVersion": optional, a positive integer; newer versions are read as far as
    // they are understood.
    void readFormatVersion(const Json &root) const;

private:
    std::string source_;
};

// The first non-finite number in the tree, by member path; JSON has no way to write one.
std::optional<std::string> firstNonFinitePath(const Json &value, const std::string &path = "");

// Dumps the tree, failing with a message naming the file and the member that holds a
// non-finite number.
Result<std::string> dumpChecked(const Json &value, const std::string &source);

// A document file's text: a regular file, reached by no link that leaves its folder, within the
// document size cap. A missing file is an error here.
Result<std::string> readTextFile(const std::filesystem::path &file);

// The JSON library's message without its own error code.
std::string libraryMessage(const std::exception &e);

// Runs a decoder and turns every way it can fail (its own failures, the JSON library's
// exceptions, exhausted memory) into an Error that names `source`.
template <class T, class Body> Result<T> guardedDecode(const std::string &source, Body &&body) {
    try {
        return body();
    } catch (const DecodeFailure &e) {
        return Error{e.what()};
    } catch (const std::bad_alloc &) {
        return Error{source + ": not enough memory to read the file"};
    } catch (const Json::exception &e) {
        return Error{source + ": " + libraryMessage(e)};
    }
}

} // namespace qv::persistence
