#include "interfaces/permissions/permissions_manager.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace qv {
namespace {

namespace fs = std::filesystem;
using Capability = PermissionsManager::Capability;
using Status = PermissionsManager::Status;

struct Desktop {
    std::map<std::string, std::string> environment;
    bool displayOpens = false;
    bool inputExtensions = false;
    std::vector<fs::path> devices;
    std::vector<fs::path> files;
};

PermissionsManager::Probe probeOf(const Desktop &d) {
    PermissionsManager::Probe p;
    p.environment = [d](const char *name) -> std::optional<std::string> {
        auto it = d.environment.find(name);
        if (it == d.environment.end()) return std::nullopt;
        return it->second;
    };
    p.displayOpens = [d](const std::string &) { return d.displayOpens; };
    p.displayHasInputExtensions = [d](const std::string &) { return d.inputExtensions; };
    p.list = [d](const fs::path &folder) {
        return folder == "/dev" ? d.devices : std::vector<fs::path>{};
    };
    p.exists = [d](const fs::path &path) {
        for (const auto &f : d.files)
            if (f == path) return true;
        return false;
    };
    return p;
}

struct Row {
    const char *name;
    Desktop desktop;
    Status display, input, microphone, camera;
    const char *displayAdvice; // part of the display's advice, "" when granted
};

class PermissionsTable : public ::testing::TestWithParam<Row> {};

TEST_P(PermissionsTable, AnswersAndAdvice) {
    const Row &row = GetParam();
    PermissionsManager m(probeOf(row.desktop));
    EXPECT_EQ(m.check(Capability::display).status, row.display);
    EXPECT_EQ(m.check(Capability::inputCapture).status, row.input);
    EXPECT_EQ(m.check(Capability::microphone).status, row.microphone);
    EXPECT_EQ(m.check(Capability::camera).status, row.camera);
    const auto &display = m.check(Capability::display);
    if (row.display == Status::granted) {
        EXPECT_TRUE(display.advice.empty());
    } else {
        EXPECT_NE(display.advice.find(row.displayAdvice), std::string::npos) << display.advice;
    }
    for (const auto &c : m.checks()) {
        EXPECT_FALSE(c.detail.empty());
        EXPECT_EQ(c.advice.empty(), c.status == Status::granted)
            << PermissionsManager::name(c.capability);
    }
    EXPECT_EQ(m.allGranted(), row.display == Status::granted && row.input == Status::granted &&
                                  row.microphone == Status::granted &&
                                  row.camera == Status::granted);
}

const Status G = Status::granted, U = Status::unavailable;

INSTANTIATE_TEST_SUITE_P(
    Desktops, PermissionsTable,
    ::testing::Values(Row{"x11_everything",
                          {{{"DISPLAY", ":0"}, {"XDG_RUNTIME_DIR", "/run/user/1"}},
                           true,
                           true,
                           {"/dev/null", "/dev/video0"},
                           {"/run/user/1/pulse/native"}},
                          G,
                          G,
                          G,
                          G,
                          ""},
                      Row{"x11_without_record",
                          {{{"DISPLAY", ":0"}, {"PULSE_SERVER", "tcp:host"}}, true, false, {}, {}},
                          G,
                          U,
                          G,
                          U,
                          ""},
                      Row{"wayland_only",
                          {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_RUNTIME_DIR", "/run/user/1"}},
                           false,
                           false,
                           {},
                           {}},
                          U,
                          U,
                          U,
                          U,
                          "X11 session"},
                      Row{"display_refused",
                          {{{"DISPLAY", ":9"}}, false, false, {"/dev/video2"}, {}},
                          U,
                          U,
                          U,
                          G,
                          "X11 session"},
                      Row{"nothing_at_all", {{}, false, false, {}, {}}, U, U, U, U, "X11 session"}),
    [](const ::testing::TestParamInfo<Row> &info) { return std::string(info.param.name); });

TEST(Permissions, RefreshAsksAgainAndTellsObservers) {
    Desktop d{{{"DISPLAY", ":0"}}, true, true, {}, {}};
    bool cameraPlugged = false;
    PermissionsManager::Probe p = probeOf(d);
    p.list = [&](const fs::path &) {
        return cameraPlugged ? std::vector<fs::path>{"/dev/video0"} : std::vector<fs::path>{};
    };
    PermissionsManager m(p);
    EXPECT_EQ(m.refreshCount(), 0);
    EXPECT_EQ(m.check(Capability::camera).status, Status::unavailable);
    int told = 0;
    const int id = m.observe([&] { ++told; });
    cameraPlugged = true;
    m.refreshAll();
    EXPECT_EQ(m.refreshCount(), 1);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(m.check(Capability::camera).status, Status::granted);
    EXPECT_EQ(m.check(Capability::camera).detail, "camera /dev/video0");
    m.removeObserver(id);
    m.refreshAll();
    EXPECT_EQ(told, 1);
    EXPECT_EQ(m.refreshCount(), 2);
}

} // namespace
} // namespace qv
