// The JSON document toolkit: typed reads and their messages, the shared number limits, the
// required-member report and the decode boundary.
#include "platform/core/json_document.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <new>

namespace qv::platform::json {
namespace {

// Decodes `member` of `text` as an int64 through the guarded boundary.
Result<std::int64_t> readInteger(std::string_view text) {
    return guardedDecode<std::int64_t>("doc.json", [&] {
        Decoder d("doc.json");
        const Value root = d.parseObject(text);
        std::int64_t out = 0;
        d.readRequired(root, "", "n", out);
        return out;
    });
}

Result<double> readNumber(std::string_view text) {
    return guardedDecode<double>("doc.json", [&] {
        Decoder d("doc.json");
        const Value root = d.parseObject(text);
        double out = 0;
        d.readRequired(root, "", "n", out);
        return out;
    });
}

struct IntegerCase {
    const char *json;
    std::optional<std::int64_t> value; // nullopt: refused with `message`
    const char *message;
};

TEST(JsonDocument, IntegersStayWithinTheDocumentLimit) {
    const IntegerCase cases[] = {
        {R"({"n": 1152921504606846976})", maxDocumentInteger, ""},
        {R"({"n": -1152921504606846976})", -maxDocumentInteger, ""},
        {R"({"n": 3000.0})", 3000, ""},
        {R"({"n": 1152921504606846977})", std::nullopt,
         "doc.json: n: integer 1152921504606846977 is out of range"},
        {R"({"n": -1152921504606846977})", std::nullopt,
         "doc.json: n: integer -1152921504606846977 is out of range"},
        {R"({"n": 18446744073709551615})", std::nullopt,
         "doc.json: n: integer 18446744073709551615 is out of range"},
        {R"({"n": 1e300})", std::nullopt, "doc.json: n: integer 1e+300 is out of range"},
        {R"({"n": 2.5})", std::nullopt, "doc.json: n: expected an integer, found 2.5"},
        {R"({"n": "7"})", std::nullopt, "doc.json: n: expected an integer, found a string"},
        {R"({"n": null})", std::nullopt, "doc.json: n: expected an integer, found null"},
        {R"({})", std::nullopt, "doc.json: n: required member is missing"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.json);
        auto r = readInteger(c.json);
        if (c.value) {
            ASSERT_TRUE(r) << r.error().message;
            EXPECT_EQ(*r, *c.value);
        } else {
            ASSERT_FALSE(r);
            EXPECT_EQ(r.error().message, c.message);
        }
    }
}

TEST(JsonDocument, NumbersMustFitAFloat) {
    auto largest = readNumber(R"({"n": 3.4e38})");
    ASSERT_TRUE(largest) << largest.error().message;
    EXPECT_DOUBLE_EQ(*largest, 3.4e38);
    auto tooLarge = readNumber(R"({"n": -1e39})");
    ASSERT_FALSE(tooLarge);
    EXPECT_EQ(tooLarge.error().message, "doc.json: n: the number -1e+39 is out of range");
    auto notJson = readNumber(R"({"n": 1e400})");
    ASSERT_FALSE(notJson);
    EXPECT_EQ(notJson.error().message.rfind("doc.json: not valid JSON: ", 0), 0u)
        << notJson.error().message;
}

TEST(JsonDocument, RequiredMembersAreReportedTogether) {
    Decoder d("doc.json");
    const Value object = d.parseObject(R"({"b": 1, "inner": {"x": 1}})");
    auto message = [&](auto &&body) -> std::string {
        try {
            body();
        } catch (const DecodeFailure &e) {
            return e.what();
        }
        return "no failure";
    };
    EXPECT_EQ(message([&] { d.requireAll(object, "", {"b", "inner"}); }), "no failure");
    EXPECT_EQ(message([&] {
                  d.requireAll(object, "", {"a", "b"});
              }),
              "doc.json: a: required member is missing");
    EXPECT_EQ(message([&] {
                  d.requireAll(object, "", {"a", "b", "c", "d"});
              }),
              "doc.json: required members are missing: a, c, d");
    EXPECT_EQ(message([&] {
                  d.requireAll(object["inner"], "inner", {"x", "y", "z"});
              }),
              "doc.json: inner: required members are missing: y, z");
}

TEST(JsonDocument, FormatVersionIsAPositiveIntegerWhenPresent) {
    Decoder d("doc.json");
    for (const char *good : {R"({})", R"({"formatVersion": 1})", R"({"formatVersion": 99})"})
        EXPECT_NO_THROW(d.readFormatVersion(d.parseObject(good))) << good;
    for (const char *bad :
         {R"({"formatVersion": 0})", R"({"formatVersion": "1"})", R"({"formatVersion": 1.5})"})
        EXPECT_THROW(d.readFormatVersion(d.parseObject(bad)), DecodeFailure) << bad;
}

TEST(JsonDocument, TheDecodeBoundaryTurnsEveryFailureIntoAnError) {
    auto exhausted = guardedDecode<int>("doc.json", []() -> int { throw std::bad_alloc(); });
    ASSERT_FALSE(exhausted);
    EXPECT_EQ(exhausted.error().message, "doc.json: not enough memory to read the file");

    auto library = guardedDecode<int>("doc.json", [] { return Value::array().at(3).get<int>(); });
    ASSERT_FALSE(library);
    EXPECT_EQ(library.error().message.rfind("doc.json: ", 0), 0u);
    EXPECT_EQ(library.error().message.find("[json.exception"), std::string::npos)
        << library.error().message;

    auto topLevel =
        guardedDecode<Value>("doc.json", [] { return Decoder("doc.json").parseObject("[1]"); });
    ASSERT_FALSE(topLevel);
    EXPECT_EQ(topLevel.error().message,
              "doc.json: expected a JSON object at the top level, found an array");
}

TEST(JsonDocument, WritingRefusesWhatJsonCannotHold) {
    Value doc = Value::object();
    doc["a"] = Value::array({1.0, 2.0});
    EXPECT_EQ(*dumpChecked(doc, "doc.json"), R"({"a":[1.0,2.0]})");
    doc["a"][1] = std::numeric_limits<double>::infinity();
    auto infinite = dumpChecked(doc, "doc.json");
    ASSERT_FALSE(infinite);
    EXPECT_EQ(infinite.error().message,
              "doc.json: a[1]: cannot be written, the number is not finite");
    doc["a"] = "\xFF";
    auto text = dumpChecked(doc, "doc.json");
    ASSERT_FALSE(text);
    EXPECT_EQ(text.error().message.rfind("doc.json: cannot be written: ", 0), 0u);
}

} // namespace
} // namespace qv::platform::json
