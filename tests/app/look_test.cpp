#include "app/app_environment.h"

#include "Frontpanel/views/scene_style_panel.h"
#include "Quillvane/app/quillvane_app.h"

#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QListWidget>
#include <QSignalSpy>

#include <fstream>

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::AppEnvironment;
using testing::waitFor;

Edits storedEdits(const fs::path &folder) {
    auto read = Edits::readFromRecording(folder);
    EXPECT_TRUE(read.ok());
    return read.ok() && read->has_value() ? **read : Edits::defaults();
}

std::string slurp(const fs::path &file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// The spin box of the form row labelled `label`.
QDoubleSpinBox *numberField(QWidget *inspector, const QString &label) {
    for (auto *form : inspector->findChildren<QFormLayout *>()) {
        for (int row = 0; row < form->rowCount(); ++row) {
            auto *labelItem = form->itemAt(row, QFormLayout::LabelRole);
            auto *fieldItem = form->itemAt(row, QFormLayout::FieldRole);
            if (!labelItem || !fieldItem) continue;
            auto *text = qobject_cast<QLabel *>(labelItem->widget());
            if (text && text->text() == label)
                return qobject_cast<QDoubleSpinBox *>(fieldItem->widget());
        }
    }
    return nullptr;
}

class Look : public ::testing::Test {
protected:
    void SetUp() override {
        AppEnvironment::instance->writeSettings(true);
        for (const auto &e : fs::directory_iterator(AppEnvironment::instance->recordingsFolder()))
            fs::remove_all(e.path());
    }
};

TEST_F(Look, ChangesAreSavedShownInThePreviewAndUndone) {
    const fs::path folder = AppEnvironment::instance->demoRecording("look");
    const Edits original = storedEdits(folder);
    QuillvaneApp app;
    app.declareScenes();
    ui::MainWindowView *view = app.mainWindowView();
    view->libraryView()->list()->setCurrentRow(0);
    ui::PreviewView *preview = view->previewView();
    ASSERT_TRUE(waitFor([&] { return preview->shownFrame() == 0; }, 60000));
    preview->seekToFrame(30);
    ASSERT_TRUE(waitFor([&] { return preview->shownFrame() == 30; }));
    const QImage before = preview->canvas()->frame();
    ui::LookInspector *look = view->lookInspector();
    ASSERT_TRUE(look->isOpen());

    // The user sets the padding in its field.
    QDoubleSpinBox *padding = numberField(look, QStringLiteral("Padding (%)"));
    ASSERT_NE(padding, nullptr);
    EXPECT_DOUBLE_EQ(padding->value(), original.scene.paddingPercent);
    const double wanted = original.scene.paddingPercent + 12;
    QSignalSpy shown(preview, &ui::PreviewView::frameShown);
    padding->setValue(wanted);
    EXPECT_DOUBLE_EQ(storedEdits(folder).scene.paddingPercent, wanted);
    // Everything else in the document is kept.
    Edits expected = original;
    expected.scene.paddingPercent = wanted;
    EXPECT_EQ(storedEdits(folder), expected);
    // The preview draws the same frame with the new look.
    ASSERT_TRUE(shown.wait(30000));
    EXPECT_EQ(preview->shownFrame(), 30);
    EXPECT_NE(preview->canvas()->frame(), before);

    ASSERT_TRUE(look->canUndo());
    look->undo();
    EXPECT_EQ(storedEdits(folder), original);
    EXPECT_DOUBLE_EQ(padding->value(), original.scene.paddingPercent);
    ASSERT_TRUE(shown.wait(30000));
    EXPECT_EQ(preview->canvas()->frame(), before);
    ASSERT_TRUE(look->canRedo());
    look->redo();
    EXPECT_EQ(storedEdits(folder), expected);
    EXPECT_DOUBLE_EQ(padding->value(), wanted);
}

TEST_F(Look, SceneChangesRoundTripThroughTheFile) {
    const fs::path folder = AppEnvironment::instance->demoRecording("scene");
    ui::LookInspector look;
    ASSERT_TRUE(look.open(folder).ok());
    Edits::Scene scene = look.edits().scene;
    scene.backgroundKind = Edits::BackgroundKind::gradient;
    scene.gradientFrom = "#112233";
    scene.chromeStyle = Edits::ChromeStyle::browser;
    scene.showBorder = true;
    scene.cursorShape = Edits::CursorShape::ring;
    scene.clickEffect = Edits::ClickEffect::shockwave;
    scene.keystrokePosition = Edits::BadgePosition::left;
    scene.webcamPosition = Edits::WebcamPosition::sideLeft;
    scene.webcamShape = Edits::WebcamShape::triangle;
    QSignalSpy changed(&look, &ui::LookInspector::editsChanged);
    look.changeScene(scene);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(storedEdits(folder).scene, scene);
    // The same scene again is no change.
    look.changeScene(scene);
    EXPECT_EQ(changed.count(), 1);
}

TEST_F(Look, WallpaperPickerShowsAPreviewOfEveryPreset) {
    const fs::path folder = AppEnvironment::instance->demoRecording("walls");
    ui::LookInspector look;
    ASSERT_TRUE(look.open(folder).ok());
    auto *list = look.findChild<QListWidget *>(QStringLiteral("wallpapers"));
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count(), int(Edits::wallpaperPresets().size()));
    std::vector<QImage> icons;
    for (int row = 0; row < list->count(); ++row) {
        const QImage icon = list->item(row)->icon().pixmap(96, 54).toImage();
        ASSERT_FALSE(icon.isNull()) << row;
        icons.push_back(icon);
    }
    EXPECT_NE(icons.front(), icons.back());
    // Picking one sets the wallpaper and its kind.
    list->setCurrentRow(list->count() - 1);
    EXPECT_EQ(storedEdits(folder).scene.wallpaperId, Edits::wallpaperPresets().back().id);
    EXPECT_EQ(storedEdits(folder).scene.backgroundKind, Edits::BackgroundKind::wallpaper);
}

TEST_F(Look, AnUnreadableDocumentIsNamedAndLeftAlone) {
    const fs::path folder = AppEnvironment::instance->demoRecording("bad");
    std::ofstream(folder / "edits.json") << "{\"scene\": {\"paddingPercent\": \"lots\"}}";
    const std::string text = slurp(folder / "edits.json");
    ui::LookInspector look;
    auto opened = look.open(folder);
    ASSERT_FALSE(opened.ok());
    EXPECT_FALSE(look.isOpen());
    EXPECT_TRUE(look.problem().contains(QStringLiteral("edits.json")));
    EXPECT_TRUE(look.problem().contains(QStringLiteral("paddingPercent")));
    Edits::Scene scene;
    scene.paddingPercent = 3;
    look.changeScene(scene);
    EXPECT_EQ(slurp(folder / "edits.json"), text);
}

} // namespace
} // namespace qv
