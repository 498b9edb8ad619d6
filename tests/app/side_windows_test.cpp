// The windows beside the main one: the teleprompter shows the settings' script and follows its
// changes; the camera window says so when the desktop has no camera.
#include "app/app_environment.h"

#include "Frontpanel/views/teleprompter.h"
#include "Frontpanel/views/webcam_preview.h"

#include <QLabel>

namespace qv {
namespace {

using testing::AppEnvironment;

TEST(Teleprompter, ShowsTheScriptFromTheSettingsAndFollowsItsChanges) {
    AppEnvironment::instance->writeSettings(true);
    SettingsStore settings(AppEnvironment::instance->settingsFile());
    ui::TeleprompterController teleprompter(settings);
    EXPECT_FALSE(teleprompter.isShown());
    // Without a script, a hint says where to write one.
    EXPECT_NE(teleprompter.text().indexOf(QStringLiteral("Teleprompter")), -1);

    AppSettings changed = settings.settings();
    changed.teleprompterText = "Welcome to the demo.\nFirst, open the project.";
    ASSERT_TRUE(settings.update(changed).ok());
    teleprompter.show();
    ASSERT_TRUE(teleprompter.isShown());
    QWidget *window = nullptr;
    for (QWidget *w : QApplication::topLevelWidgets())
        if (w->objectName() == QStringLiteral("teleprompter")) window = w;
    ASSERT_NE(window, nullptr);
    auto *label = window->findChild<QLabel *>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QString::fromStdString(changed.teleprompterText));

    // A change made while it shows is shown at once.
    changed.teleprompterText = "Now the second step.";
    ASSERT_TRUE(settings.update(changed).ok());
    EXPECT_EQ(label->text(), QStringLiteral("Now the second step."));

    teleprompter.hide();
    EXPECT_FALSE(teleprompter.isShown());
}

TEST(CameraWindow, SaysSoWhenThereIsNoCamera) {
    if (ui::WebcamPreviewController::hasCamera())
        GTEST_SKIP() << "this machine has a camera; the test is for one without";
    ui::WebcamPreviewController camera;
    EXPECT_FALSE(camera.isShown());
    camera.show();
    ASSERT_TRUE(camera.isShown());
    auto *label = camera.window()->findChild<QLabel *>();
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), QStringLiteral("No camera found."));
    // Shown again, it still holds the one line.
    camera.hide();
    EXPECT_FALSE(camera.isShown());
    camera.show();
    EXPECT_EQ(camera.window()->findChildren<QLabel *>().size(), 1);
    camera.hide();
}

} // namespace
} // namespace qv
