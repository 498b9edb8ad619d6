// The world the application tests run in: a private Xvfb server with a tray host (trayer) on it,
// a QApplication on that display, and library, settings and trash folders of the test's own.
// The bundled demo recording is written into the library on first use.
#pragma once

#include "handtrace/xvfb.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

namespace qv::testing {

class AppEnvironment : public ::testing::Environment {
public:
    static AppEnvironment *instance;

    void SetUp() override;
    void TearDown() override;

    const std::filesystem::path &root() const { return root_; }
    std::filesystem::path libraryFolder() const { return root_ / "library"; }
    std::filesystem::path recordingsFolder() const { return root_ / "library" / "recordings"; }
    std::filesystem::path settingsFile() const { return root_ / "settings.json"; }
    std::filesystem::path dataHome() const { return root_ / "data"; }
    // Writes the settings file so that the app opens on the library (or the first-run page).
    void writeSettings(bool onboardingComplete, bool showFrameRate = false);
    // The demo recording under `id` in the library (written once, copied for each id).
    std::filesystem::path demoRecording(const std::string &id);
    bool trayHostRunning() const { return trayer_ > 0; }
    const std::string &display() const { return server_->display(); }

private:
    std::unique_ptr<XvfbServer> server_;
    std::filesystem::path root_;
    pid_t trayer_ = -1;
    std::unique_ptr<QApplication> app_;
    bool demoWritten_ = false;
};

// Runs the event loop until `done` or the timeout; true when done.
inline bool waitFor(const std::function<bool()> &done, int timeoutMs = 20000) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > timeoutMs) return false;
        QTest::qWait(10);
    }
    return true;
}

} // namespace qv::testing
