#include "platform/core/json_document.h"

#include <cmath>
#include <limits>
#include <vector>

namespace qv::platform::json {

std::string memberPath(std::string_view parent, std::string_view key) {
    if (parent.empty()) return std::string(key);
    std::string path(parent);
    path += '.';
    path += key;
    return path;
}

std::string elementPath(std::string_view parent, std::size_t index) {
    std::string path(parent);
    path += '[';
    path += std::to_string(index);
    path += ']';
    return path;
}

std::string describe(const Value &value) {
    switch (value.type()) {
    case Value::value_t::null:
        return "null";
    case Value::value_t::object:
        return "an object";
    case Value::value_t::array:
        return "an array";
    case Value::value_t::string:
        return "a string";
    case Value::value_t::boolean:
        return "a boolean";
    case Value::value_t::number_integer:
    case Value::value_t::number_unsigned:
    case Value::value_t::number_float:
        return value.dump();
    default:
        return "an unsupported value";
    }
}

std::string libraryMessage(const std::exception &e) {
    // The library's text starts with its own error code; keep just the position and cause.
    std::string what = e.what();
    auto colon = what.find("] ");
    return colon == std::string::npos ? what : what.substr(colon + 2);
}

Value Decoder::parseObject(std::string_view text) const {
    Value root;
    try {
        root = Value::parse(text.begin(), text.end());
    } catch (const Value::exception &e) {
        // A syntax error, or a number too large for a double (1e400).
        throw DecodeFailure(source_ + ": not valid JSON: " + libraryMessage(e));
    }
    if (!root.is_object())
        throw DecodeFailure(source_ + ": expected a JSON object at the top level, found " +
                            describe(root));
    return root;
}

void Decoder::fail(std::string_view path, std::string_view problem) const {
    std::string message = source_;
    message += ": ";
    if (!path.empty()) {
        message += path;
        message += ": ";
    }
    message += problem;
    throw DecodeFailure(message);
}

const Value *Decoder::find(const Value &object, std::string_view key) {
    auto it = object.find(key);
    return it == object.end() ? nullptr : &*it;
}

const Value &Decoder::require(const Value &object, std::string_view parent,
                              std::string_view key) const {
    const Value *value = find(object, key);
    if (!value) fail(memberPath(parent, key), "required member is missing");
    return *value;
}

void Decoder::requireAll(const Value &object, std::string_view parent,
                         std::initializer_list<std::string_view> keys) const {
    std::vector<std::string_view> missing;
    for (std::string_view key : keys)
        if (!find(object, key)) missing.push_back(key);
    if (missing.empty()) return;
    if (missing.size() == 1)
        fail(memberPath(parent, missing.front()), "required member is missing");
    std::string names;
    for (std::string_view key : missing) {
        if (!names.empty()) names += ", ";
        names += key;
    }
    fail(parent, "required members are missing: " + names);
}

const Value &Decoder::asObject(const Value &value, std::string_view path) const {
    if (!value.is_object()) fail(path, "expected an object, found " + describe(value));
    return value;
}

const Value &Decoder::asArray(const Value &value, std::string_view path) const {
    if (!value.is_array()) fail(path, "expected an array, found " + describe(value));
    return value;
}

double Decoder::asDouble(const Value &value, std::string_view path) const {
    if (!value.is_number()) fail(path, "expected a number, found " + describe(value));
    const double v = value.get<double>();
    // Geometry is drawn in single precision; a larger value would become infinite there.
    if (!(std::abs(v) <= double(std::numeric_limits<float>::max())))
        fail(path, "the number " + value.dump() + " is out of range");
    return v;
}

std::int64_t Decoder::asInt64(const Value &value, std::string_view path) const {
    std::int64_t v = 0;
    if (value.is_number_unsigned()) {
        if (value.get<std::uint64_t>() > std::uint64_t(maxDocumentInteger))
            fail(path, "integer " + value.dump() + " is out of range");
        v = static_cast<std::int64_t>(value.get<std::uint64_t>());
    } else if (value.is_number_integer()) {
        v = value.get<std::int64_t>();
    } else if (value.is_number_float()) {
        // Other writers may store whole numbers as 1000.0; accept those, nothing fractional.
        double d = value.get<double>();
        if (std::trunc(d) != d) fail(path, "expected an integer, found " + value.dump());
        if (!(std::abs(d) <= double(maxDocumentInteger)))
            fail(path, "integer " + value.dump() + " is out of range");
        v = static_cast<std::int64_t>(d);
    } else {
        fail(path, "expected an integer, found " + describe(value));
    }
    if (v > maxDocumentInteger || v < -maxDocumentInteger)
        fail(path, "integer " + value.dump() + " is out of range");
    return v;
}

int Decoder::asInt(const Value &value, std::string_view path) const {
    std::int64_t v = asInt64(value, path);
    if (v < std::numeric_limits<int>::min() || v > std::numeric_limits<int>::max())
        fail(path, "integer " + std::to_string(v) + " is out of range");
    return static_cast<int>(v);
}

bool Decoder::asBool(const Value &value, std::string_view path) const {
    if (!value.is_boolean()) fail(path, "expected a boolean, found " + describe(value));
    return value.get<bool>();
}

std::string Decoder::asString(const Value &value, std::string_view path) const {
    if (!value.is_string()) fail(path, "expected a string, found " + describe(value));
    return value.get<std::string>();
}

namespace {

// One typed read per output type, so that the required, optional and nullable forms below are
// written once.
double typed(const Decoder &d, const Value &v, std::string_view path, double *) {
    return d.asDouble(v, path);
}
std::int64_t typed(const Decoder &d, const Value &v, std::string_view path, std::int64_t *) {
    return d.asInt64(v, path);
}
int typed(const Decoder &d, const Value &v, std::string_view path, int *) {
    return d.asInt(v, path);
}
bool typed(const Decoder &d, const Value &v, std::string_view path, bool *) {
    return d.asBool(v, path);
}
std::string typed(const Decoder &d, const Value &v, std::string_view path, std::string *) {
    return d.asString(v, path);
}

template <class T>
void readRequiredAs(const Decoder &d, const Value &object, std::string_view parent,
                    std::string_view key, T &out) {
    out = typed(d, d.require(object, parent, key), memberPath(parent, key), &out);
}

template <class T>
void readOptionalAs(const Decoder &d, const Value &object, std::string_view parent,
                    std::string_view key, T &out) {
    if (const Value *v = Decoder::find(object, key))
        out = typed(d, *v, memberPath(parent, key), &out);
}

template <class T>
void readNullableAs(const Decoder &d, const Value &object, std::string_view parent,
                    std::string_view key, std::optional<T> &out) {
    const Value *v = Decoder::find(object, key);
    if (!v) return;
    if (v->is_null())
        out.reset();
    else
        out = typed(d, *v, memberPath(parent, key), static_cast<T *>(nullptr));
}

} // namespace

void Decoder::readRequired(const Value &object, std::string_view parent, std::string_view key,
                           double &out) const {
    readRequiredAs(*this, object, parent, key, out);
}

void Decoder::readRequired(const Value &object, std::string_view parent, std::string_view key,
                           std::int64_t &out) const {
    readRequiredAs(*this, object, parent, key, out);
}

void Decoder::readRequired(const Value &object, std::string_view parent, std::string_view key,
                           int &out) const {
    readRequiredAs(*this, object, parent, key, out);
}

void Decoder::readRequired(const Value &object, std::string_view parent, std::string_view key,
                           std::string &out) const {
    readRequiredAs(*this, object, parent, key, out);
}

void Decoder::read(const Value &object, std::string_view parent, std::string_view key,
                   double &out) const {
    readOptionalAs(*this, object, parent, key, out);
}

void Decoder::read(const Value &object, std::string_view parent, std::string_view key,
                   std::int64_t &out) const {
    readOptionalAs(*this, object, parent, key, out);
}

void Decoder::read(const Value &object, std::string_view parent, std::string_view key,
                   int &out) const {
    readOptionalAs(*this, object, parent, key, out);
}

void Decoder::read(const Value &object, std::string_view parent, std::string_view key,
                   bool &out) const {
    readOptionalAs(*this, object, parent, key, out);
}

void Decoder::read(const Value &object, std::string_view parent, std::string_view key,
                   std::string &out) const {
    readOptionalAs(*this, object, parent, key, out);
}

void Decoder::read(const Value &object, std::string_view parent, std::string_view key,
                   std::optional<double> &out) const {
    readNullableAs(*this, object, parent, key, out);
}

void Decoder::read(const Value &object, std::string_view parent, std::string_view key,
                   std::optional<std::int64_t> &out) const {
    readNullableAs(*this, object, parent, key, out);
}

void Decoder::read(const Value &object, std::string_view parent, std::string_view key,
                   std::optional<std::string> &out) const {
    readNullableAs(*this, object, parent, key, out);
}

void Decoder::readFormatVersion(const Value &root) const {
    const Value *v = find(root, "formatVersion");
    if (!v) return;
    if (asInt64(*v, "formatVersion") < 1)
        fail("formatVersion", "expected a positive integer, found " + v->dump());
}

std::optional<std::string> firstNonFinitePath(const Value &value, const std::string &path) {
    if (value.is_number_float()) {
        if (!std::isfinite(value.get<double>())) return path;
    } else if (value.is_object()) {
        for (const auto &[key, member] : value.items())
            if (auto bad = firstNonFinitePath(member, memberPath(path, key))) return bad;
    } else if (value.is_array()) {
        for (std::size_t i = 0; i < value.size(); ++i)
            if (auto bad = firstNonFinitePath(value[i], elementPath(path, i))) return bad;
    }
    return std::nullopt;
}

Result<std::string> dumpChecked(const Value &value, const std::string &source, int indent) {
    // The library would write a non-finite number as null, which no reader accepts.
    if (auto bad = firstNonFinitePath(value))
        return Error{source + ": " + *bad + ": cannot be written, the number is not finite"};
    try {
        return value.dump(indent);
    } catch (const Value::exception &e) {
        // A text that is not UTF-8.
        return Error{source + ": cannot be written: " + libraryMessage(e)};
    }
}

} // namespace qv::platform::json
