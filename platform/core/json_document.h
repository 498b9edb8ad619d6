// The JSON documents of a recording, which people may edit by hand. Reading: typed member reads
// whose failures name the file, the member path and the problem ("edits.json: scene.crop.x:
// expected a number, found a string"), the number limits every document shares, and a decode
// boundary that turns every way a reader can fail into an Error. Writing: a dump that refuses
// what JSON cannot hold, naming the member.
//
// Thread safety: a Decoder holds only the file's name; the functions hold no state.
#pragma once

#include "platform/core/result.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <initializer_list>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qv::platform::json {

// Member order is kept, so that a document reads back in the order it was written.
using Value = nlohmann::ordered_json;

// Thrown inside a decoder and turned into an Error by guardedDecode, so that each member read
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
std::string describe(const Value &value);
// The JSON library's message without its own error code.
std::string libraryMessage(const std::exception &e);

// Reads members of one file; every failure throws a DecodeFailure whose text names `source` and
// the member path.
class Decoder {
public:
    explicit Decoder(std::string source) : source_(std::move(source)) {}

    const std::string &source() const noexcept { return source_; }

    // Parses text that must hold a JSON object.
    Value parseObject(std::string_view text) const;

    [[noreturn]] void fail(std::string_view path, std::string_view problem) const;

    // nullptr when the member is missing.
    static const Value *find(const Value &object, std::string_view key);
    // Fails when the member is missing.
    const Value &require(const Value &object, std::string_view parent, std::string_view key) const;
    // Fails when any of `keys` is missing, naming all that are: one missing member gives
    // "<file>: <path>: required member is missing", several give
    // "<file>: <parent>: required members are missing: a, b" (no parent at the top level).
    void requireAll(const Value &object, std::string_view parent,
                    std::initializer_list<std::string_view> keys) const;

    // The value must be an object / array (path names it for the message).
    const Value &asObject(const Value &value, std::string_view path) const;
    const Value &asArray(const Value &value, std::string_view path) const;

    // A number that fits a float: geometry is drawn in single precision, where a larger value
    // would become infinite.
    double asDouble(const Value &value, std::string_view path) const;
    // An integer within ±maxDocumentInteger; whole numbers written as decimals (1000.0) count.
    std::int64_t asInt64(const Value &value, std::string_view path) const;
    int asInt(const Value &value, std::string_view path) const;
    bool asBool(const Value &value, std::string_view path) const;
    std::string asString(const Value &value, std::string_view path) const;

    // Required members: fail when the member is missing or of the wrong type.
    void readRequired(const Value &object, std::string_view parent, std::string_view key,
                      double &out) const;
    void readRequired(const Value &object, std::string_view parent, std::string_view key,
                      std::int64_t &out) const;
    void readRequired(const Value &object, std::string_view parent, std::string_view key,
                      int &out) const;
    void readRequired(const Value &object, std::string_view parent, std::string_view key,
                      std::string &out) const;

    // Optional members: the output keeps its value when the member is missing.
    void read(const Value &object, std::string_view parent, std::string_view key,
              double &out) const;
    void read(const Value &object, std::string_view parent, std::string_view key,
              std::int64_t &out) const;
    void read(const Value &object, std::string_view parent, std::string_view key, int &out) const;
    void read(const Value &object, std::string_view parent, std::string_view key, bool &out) const;
    void read(const Value &object, std::string_view parent, std::string_view key,
              std::string &out) const;
    // For members that may be absent in the value itself, null also means absent.
    void read(const Value &object, std::string_view parent, std::string_view key,
              std::optional<double> &out) const;
    void read(const Value &object, std::string_view parent, std::string_view key,
              std::optional<std::int64_t> &out) const;
    void read(const Value &object, std::string_view parent, std::string_view key,
              std::optional<std::string> &out) const;

    // Reads "formatVersion": optional, a positive integer; newer versions are read as far as
    // they are understood.
    void readFormatVersion(const Value &root) const;

private:
    std::string source_;
};

// Runs a decoder and turns every way it can fail (its own failures, the JSON library's
// exceptions, exhausted memory) into an Error that names `source`.
template <class T, class Body> Result<T> guardedDecode(const std::string &source, Body &&body) {
    try {
        return body();
    } catch (const DecodeFailure &e) {
        return Error{e.what()};
    } catch (const std::bad_alloc &) {
        return Error{source + ": not enough memory to read the file"};
    } catch (const Value::exception &e) {
        return Error{source + ": " + libraryMessage(e)};
    }
}

// The first non-finite number in the tree, by member path; JSON has no way to write one.
std::optional<std::string> firstNonFinitePath(const Value &value, const std::string &path = "");

// The document's text (indented by `indent` spaces per level, compact when negative). Fails with
// a message naming `source` and the member when a number is not finite, or when a text is not
// UTF-8.
Result<std::string> dumpChecked(const Value &value, const std::string &source, int indent = -1);

} // namespace qv::platform::json
