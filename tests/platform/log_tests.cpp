#include "platform/core/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

namespace qv::platform {
namespace {

// Restores the logger's global test state however a test ends.
class LogTest : public ::testing::Test {
protected:
    void TearDown() override {
        Logger::setSinkForTesting(nullptr);
        Logger::setThresholdForTesting(std::nullopt);
    }
};

TEST_F(LogTest, LevelNamesRoundTrip) {
    const std::vector<std::pair<std::string, LogLevel>> names = {{"debug", LogLevel::debug},
                                                                 {"info", LogLevel::info},
                                                                 {"default", LogLevel::notice},
                                                                 {"error", LogLevel::error},
                                                                 {"off", LogLevel::off}};
    for (const auto &[text, level] : names) {
        EXPECT_EQ(parseLogLevel(text), level);
        EXPECT_EQ(logLevelName(level), text);
    }
    for (const char *bad : {"", "notice", "DEBUG", "errors", "warn"})
        EXPECT_EQ(parseLogLevel(bad), std::nullopt) << bad;
}

TEST_F(LogTest, ThresholdDecidesWhatIsWritten) {
    const LogLevel levels[] = {LogLevel::debug, LogLevel::info, LogLevel::notice, LogLevel::error};
    struct Case {
        LogLevel threshold;
        bool expected[4]; // debug, info, default, error
    };
    const Case cases[] = {
        {LogLevel::debug, {true, true, true, true}},
        {LogLevel::info, {false, true, true, true}},
        {LogLevel::notice, {false, false, true, true}},
        {LogLevel::error, {false, false, false, true}},
        {LogLevel::off, {false, false, false, false}},
    };
    for (const auto &c : cases) {
        Logger::setThresholdForTesting(c.threshold);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Logger::isEnabled(levels[i]), c.expected[i])
                << "threshold " << logLevelName(c.threshold) << ", level "
                << logLevelName(levels[i]);
    }
}

TEST_F(LogTest, SinkReceivesFormattedRecordsWhateverTheThreshold) {
    std::vector<LogRecord> records;
    Logger::setSinkForTesting([&](const LogRecord &r) { records.push_back(r); });
    Logger::setThresholdForTesting(LogLevel::off);
    Logger log("com.quillvane.tests", "sink");
    log.debug("%d frames in %s", 12, "0.5 s");
    log.info("plain");
    log.notice("%05.1f%%", 3.14159);
    log.error("%s", std::string(300, 'x').c_str()); // longer than the formatter's first try

    ASSERT_EQ(records.size(), 4u);
    EXPECT_EQ(records[0].subsystem, "com.quillvane.tests");
    EXPECT_EQ(records[0].category, "sink");
    EXPECT_EQ(records[0].level, LogLevel::debug);
    EXPECT_EQ(records[0].message, "12 frames in 0.5 s");
    EXPECT_EQ(records[1].level, LogLevel::info);
    EXPECT_EQ(records[2].level, LogLevel::notice);
    EXPECT_EQ(records[2].message, "003.1%");
    EXPECT_EQ(records[3].level, LogLevel::error);
    EXPECT_EQ(records[3].message, std::string(300, 'x'));
}

TEST_F(LogTest, LineFormat) {
    const LogRecord record{"com.quillvane.compositor", "render", LogLevel::notice, "x=3"};
    EXPECT_EQ(formatLogLine(record, "2026-01-31 14:05:09.123"),
              "2026-01-31 14:05:09.123 [com.quillvane.compositor:render] default: x=3");
}

TEST_F(LogTest, StderrGetsOneLinePerMessageAboveTheThreshold) {
    Logger::setThresholdForTesting(LogLevel::error);
    Logger log("sub", "cat");
    ::testing::internal::CaptureStderr();
    log.info("hidden %d", 1);
    log.error("shown %d", 7);
    const std::string out = ::testing::internal::GetCapturedStderr();
    const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} \[sub:cat\] error: shown 7\n)");
    EXPECT_TRUE(std::regex_match(out, line)) << out;
}

} // namespace
} // namespace qv::platform
