#include "platform/core/trace.h"

#include "temp_dir.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <fstream>
#include <map>
#include <set>
#include <thread>

namespace qv::platform {
namespace {

class TraceTest : public ::testing::Test {
protected:
    void TearDown() override { disableTracingForTesting(); }
    testing::TempDir dir;
};

TEST_F(TraceTest, IntervalIdsAreUniqueAndIncreasing) {
    Signposter s("com.quillvane.tests", "ids");
    std::vector<IntervalId> a, b;
    std::thread other([&] {
        for (int i = 0; i < 1000; ++i) b.push_back(s.makeIntervalId());
    });
    for (int i = 0; i < 1000; ++i) a.push_back(s.makeIntervalId());
    other.join();
    for (std::size_t i = 1; i < a.size(); ++i) {
        ASSERT_GT(a[i], a[i - 1]);
        ASSERT_GT(b[i], b[i - 1]);
    }
    std::set<IntervalId> all(a.begin(), a.end());
    all.insert(b.begin(), b.end());
    EXPECT_EQ(all.size(), 2000u);
}

TEST_F(TraceTest, DisabledRecordsNothing) {
    disableTracingForTesting();
    Signposter s("com.quillvane.tests", "off");
    EXPECT_FALSE(s.isEnabled());
    const std::size_t before = recordedTraceEventCount();
    const IntervalId id = s.makeIntervalId();
    s.beginInterval("frame", id);
    s.endInterval("frame", id);
    EXPECT_EQ(recordedTraceEventCount(), before);
    EXPECT_TRUE(flushTrace().ok());
}

TEST_F(TraceTest, EnabledWritesMatchingAsyncPairs) {
    const auto path = dir / "trace.json";
    enableTracingForTesting(path);
    Signposter s("com.quillvane.tests", "frames");
    ASSERT_TRUE(s.isEnabled());

    const IntervalId first = s.makeIntervalId();
    const IntervalId second = s.makeIntervalId();
    s.beginInterval("render \"quoted\"", first);
    s.beginInterval("encode", second);
    s.endInterval("render \"quoted\"", first);
    std::thread([&] { s.endInterval("encode", second); }).join(); // closed elsewhere
    EXPECT_EQ(recordedTraceEventCount(), 4u);

    const Status flushed = flushTrace();
    ASSERT_TRUE(flushed.ok()) << flushed.error().message;
    std::ifstream in(path);
    const auto json = nlohmann::json::parse(in);
    const auto &events = json.at("traceEvents");
    ASSERT_EQ(events.size(), 4u);

    std::map<std::string, std::map<std::string, nlohmann::json>> byId; // id -> phase -> event
    for (const auto &e : events) {
        EXPECT_EQ(e.at("cat"), "frames");
        EXPECT_TRUE(e.at("ts").is_number());
        EXPECT_TRUE(e.at("pid").is_number_integer());
        EXPECT_TRUE(e.at("tid").is_number_integer());
        byId[e.at("id").get<std::string>()][e.at("ph").get<std::string>()] = e;
    }
    ASSERT_EQ(byId.size(), 2u);
    std::set<std::string> names;
    for (const auto &[id, phases] : byId) {
        ASSERT_EQ(phases.size(), 2u) << id;
        const auto &b = phases.at("b");
        const auto &e = phases.at("e");
        EXPECT_EQ(b.at("name"), e.at("name"));
        EXPECT_LE(b.at("ts").get<double>(), e.at("ts").get<double>());
        names.insert(b.at("name").get<std::string>());
        if (b.at("name") == "encode") {
            EXPECT_NE(b.at("tid"), e.at("tid"));
        }
    }
    EXPECT_EQ(names, (std::set<std::string>{"render \"quoted\"", "encode"}));

    // Only the finished file is left behind.
    int files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1);
}

TEST_F(TraceTest, FlushErrorNamesTheFile) {
    const auto path = dir / "missing-folder" / "trace.json";
    enableTracingForTesting(path);
    Signposter s("com.quillvane.tests", "errors");
    s.beginInterval("x", s.makeIntervalId());
    const Status flushed = flushTrace();
    ASSERT_FALSE(flushed.ok());
    EXPECT_NE(flushed.error().message.find(path.string()), std::string::npos)
        << flushed.error().message;
}

} // namespace
} // namespace qv::platform
