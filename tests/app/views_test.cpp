#include "app/app_environment.h"

#include "Frontpanel/views/frame_renderer.h"
#include "Frontpanel/views/window_placement.h"
#include "Quillvane/app/quillvane_app.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <set>

namespace qv {
namespace {

namespace fs = std::filesystem;
using testing::AppEnvironment;
using testing::waitFor;

// Mean absolute difference of the colour components of two same-sized images.
double meanDifference(const QImage &a, const QImage &b) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32);
    const QImage y = b.convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < x.height(); ++row) {
        const auto *p = reinterpret_cast<const QRgb *>(x.constScanLine(row));
        const auto *q = reinterpret_cast<const QRgb *>(y.constScanLine(row));
        for (int col = 0; col < x.width(); ++col)
            sum += std::abs(qRed(p[col]) - qRed(q[col])) +
                   std::abs(qGreen(p[col]) - qGreen(q[col])) +
                   std::abs(qBlue(p[col]) - qBlue(q[col]));
    }
    return sum / (3.0 * x.width() * x.height());
}

// How many distinct colours (quantised) the picture has: a rendered frame has many, an empty
// canvas one.
int colourVariety(const QImage &image) {
    std::set<int> seen;
    const QImage x = image.convertToFormat(QImage::Format_RGB32);
    for (int row = 0; row < x.height(); row += 3)
        for (int col = 0; col < x.width(); col += 3) {
            const QRgb c = x.pixel(col, row);
            seen.insert((qRed(c) / 16) << 8 | (qGreen(c) / 16) << 4 | qBlue(c) / 16);
        }
    return int(seen.size());
}

int listIndexOf(QListWidget *list, const QString &id) {
    for (int row = 0; row < list->count(); ++row)
        if (list->item(row)->text().startsWith(id + QStringLiteral("\n"))) return row;
    return -1;
}

class Views : public ::testing::Test {
protected:
    void SetUp() override {
        AppEnvironment::instance->writeSettings(true, true);
        for (const auto &entry :
             fs::directory_iterator(AppEnvironment::instance->recordingsFolder()))
            fs::remove_all(entry.path());
    }
};

TEST_F(Views, LibraryListsRecordingsWithThumbnailsDrawnByTheCompositor) {
    const fs::path folder = AppEnvironment::instance->demoRecording("demo take");
    QuillvaneApp app;
    app.declareScenes();
    ui::LibraryView *library = app.mainWindowView()->libraryView();
    ASSERT_EQ(library->list()->count(), 1);
    EXPECT_TRUE(library->list()->item(0)->text().startsWith(QStringLiteral("demo take\n")));
    EXPECT_TRUE(library->list()->item(0)->text().contains(QStringLiteral("· 0:04")));
    ASSERT_TRUE(
        waitFor([&] { return !library->thumbnail(QStringLiteral("demo take")).isNull(); }, 60000));
    const QImage thumbnail = library->thumbnail(QStringLiteral("demo take"));
    // The very frame the export draws a third of the way in, at the thumbnail's canvas.
    auto meta = RecordingMeta::readFromRecording(folder);
    ASSERT_TRUE(meta.ok());
    auto renderer =
        ui::FrameRenderer::open(folder, std::nullopt, ui::LibraryView::thumbnailCanvas(*meta));
    ASSERT_TRUE(renderer.ok()) << renderer.error().message;
    auto frame = (*renderer)->render((*renderer)->frameCount() / 3);
    ASSERT_TRUE(frame.ok()) << frame.error().message;
    const QImage expected = ui::FrameRenderer::toImage(**frame);
    ASSERT_EQ(thumbnail.size(), expected.size());
    EXPECT_EQ(thumbnail.size(), QSize(240, 134));
    EXPECT_LT(meanDifference(thumbnail, expected), 0.5);
    EXPECT_GT(colourVariety(thumbnail), 20);
}

TEST_F(Views, LibraryRenamesAndMovesToTheTrash) {
    AppEnvironment::instance->demoRecording("first");
    AppEnvironment::instance->demoRecording("second");
    QuillvaneApp app;
    app.declareScenes();
    ui::LibraryView *library = app.mainWindowView()->libraryView();
    ASSERT_EQ(library->list()->count(), 2);
    library->list()->setCurrentRow(listIndexOf(library->list(), QStringLiteral("first")));
    EXPECT_EQ(app.appState().selectedRecording(), QStringLiteral("first"));

    ASSERT_TRUE(library->renameRecording(QStringLiteral("first"), QStringLiteral("Tour")).ok());
    const fs::path recordings = AppEnvironment::instance->recordingsFolder();
    EXPECT_TRUE(fs::exists(recordings / "Tour" / "screen.mp4"));
    EXPECT_FALSE(fs::exists(recordings / "first"));
    EXPECT_GE(listIndexOf(library->list(), QStringLiteral("Tour")), 0);
    EXPECT_EQ(app.appState().selectedRecording(), QStringLiteral("Tour"));

    auto refused = library->renameRecording(QStringLiteral("Tour"), QStringLiteral("second"));
    EXPECT_FALSE(refused.ok());

    ASSERT_TRUE(library->trashRecording(QStringLiteral("Tour")).ok());
    const fs::path trash = AppEnvironment::instance->dataHome() / "Trash";
    EXPECT_TRUE(fs::exists(trash / "files" / "Tour" / "meta.json"));
    EXPECT_TRUE(fs::exists(trash / "info" / "Tour.trashinfo"));
    EXPECT_FALSE(fs::exists(recordings / "Tour"));
    EXPECT_EQ(library->list()->count(), 1);
    EXPECT_EQ(listIndexOf(library->list(), QStringLiteral("Tour")), -1);
    EXPECT_TRUE(app.appState().selectedRecording().isEmpty());
}

TEST_F(Views, ScreenshotOfTheMainWindowShowsTheRenderedFrameInThePreview) {
    const fs::path folder = AppEnvironment::instance->demoRecording("shot");
    QuillvaneApp app;
    app.declareScenes();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(app.mainWindow()));
    ui::PreviewView *preview = app.mainWindowView()->previewView();
    ui::LibraryView *library = app.mainWindowView()->libraryView();
    library->list()->setCurrentRow(0);
    ASSERT_TRUE(waitFor([&] { return preview->shownFrame() == 0; }, 60000));
    const std::int64_t target = preview->frameCount() / 2;
    preview->seekToFrame(target);
    ASSERT_TRUE(waitFor([&] { return preview->shownFrame() == target; }, 60000));
    QTest::qWait(300); // painted and flushed to the X server

    if (!testing::commandExists("import")) GTEST_SKIP() << "ImageMagick's import is missing";
    const fs::path shot = AppEnvironment::instance->root() / "screen.png";
    const std::string command =
        "import -display " + AppEnvironment::instance->display() + " -window root " + shot.string();
    ASSERT_EQ(std::system(command.c_str()), 0);
    const QImage screen(QString::fromStdString(shot.string()));
    ASSERT_FALSE(screen.isNull());

    ui::PreviewCanvas *canvas = preview->canvas();
    const QRect frameRect = canvas->frameRect();
    ASSERT_FALSE(frameRect.isEmpty());
    const QPoint origin = canvas->mapToGlobal(frameRect.topLeft());
    // The frame area, less its top-left corner where the frame-rate overlay sits.
    const QRect onScreen(origin, frameRect.size());
    const QImage shown = screen.copy(onScreen);

    // What the export draws for that frame, at the preview's canvas, scaled as the widget does.
    auto meta = RecordingMeta::readFromRecording(folder);
    ASSERT_TRUE(meta.ok());
    const QSize drawn = canvas->frame().size();
    auto renderer = ui::FrameRenderer::open(folder, std::nullopt,
                                            Size{double(drawn.width()), double(drawn.height())});
    ASSERT_TRUE(renderer.ok()) << renderer.error().message;
    ASSERT_EQ(QSize((*renderer)->width(), (*renderer)->height()), drawn);
    auto frame = (*renderer)->render(target);
    ASSERT_TRUE(frame.ok());
    const QImage expected = ui::FrameRenderer::toImage(**frame).scaled(
        frameRect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    // Below the overlay: the bottom two thirds of the frame.
    const QRect lower(0, frameRect.height() / 3, frameRect.width(), frameRect.height() * 2 / 3);
    EXPECT_LT(meanDifference(shown.copy(lower), expected.copy(lower)), 4.0);
    EXPECT_GT(colourVariety(shown.copy(lower)), 30);
    // The canvas around the frame is the preview's background, not the frame.
    if (frameRect.left() > 2) {
        const QColor outside = screen.pixelColor(
            canvas->mapToGlobal(QPoint(frameRect.left() / 2, canvas->height() / 2)));
        EXPECT_EQ(outside, QColor(24, 24, 27));
    }
    // A different frame does not match: the comparison can tell frames apart.
    auto other = (*renderer)->render(0);
    ASSERT_TRUE(other.ok());
    const QImage first = ui::FrameRenderer::toImage(**other).scaled(
        frameRect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    EXPECT_GT(meanDifference(shown.copy(lower), first.copy(lower)),
              meanDifference(shown.copy(lower), expected.copy(lower)) + 1.0);
}

TEST_F(Views, PreviewStepsScrubsAndPlaysToTheEnd) {
    AppEnvironment::instance->demoRecording("play");
    QuillvaneApp app;
    app.declareScenes();
    ui::PreviewView *preview = app.mainWindowView()->previewView();
    app.mainWindowView()->libraryView()->list()->setCurrentRow(0);
    ASSERT_TRUE(waitFor([&] { return preview->shownFrame() == 0; }, 60000));
    auto renderer = ui::FrameRenderer::open(AppEnvironment::instance->recordingsFolder() / "play");
    ASSERT_TRUE(renderer.ok());
    EXPECT_EQ(preview->frameCount(), (*renderer)->frameCount());
    EXPECT_DOUBLE_EQ(preview->framesPerSecond(), 30.0);
    preview->step(1);
    ASSERT_TRUE(waitFor([&] { return preview->shownFrame() == 1; }));
    preview->step(-5);
    ASSERT_TRUE(waitFor([&] { return preview->shownFrame() == 0; }));
    preview->seekToFrame(preview->frameCount() - 10);
    ASSERT_TRUE(waitFor([&] { return preview->shownFrame() == preview->frameCount() - 10; }));
    preview->play();
    EXPECT_TRUE(preview->isPlaying());
    ASSERT_TRUE(waitFor([&] { return !preview->isPlaying(); }, 30000));
    ASSERT_TRUE(waitFor([&] { return preview->shownFrame() == preview->frameCount() - 1; }));
    // The overlay counted the frames shown while playing.
    EXPECT_GE(preview->shownPerSecond(), 1);
}

TEST_F(Views, ThePreviewDrawsNoMorePixelsThanItShowsAndFollowsItsArea) {
    const fs::path folder = AppEnvironment::instance->demoRecording("fit");
    ui::PreviewView preview;
    preview.resize(320, 240);
    preview.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&preview));
    ASSERT_TRUE(preview.open(folder, std::nullopt, Size{1920, 1080}).ok());
    ASSERT_TRUE(waitFor([&] { return preview.shownFrame() == 0; }, 60000));
    const double dpr = preview.canvas()->devicePixelRatioF();
    const QSize small = preview.canvas()->frame().size();
    EXPECT_LE(small.width(), std::ceil(preview.canvas()->width() * dpr));
    EXPECT_LE(small.height(), std::ceil(preview.canvas()->height() * dpr));
    auto full = ui::FrameRenderer::open(folder);
    ASSERT_TRUE(full.ok());
    EXPECT_LT(small.width(), (*full)->width()) << "the test needs a frame larger than the area";

    preview.seekToFrame(40);
    ASSERT_TRUE(waitFor([&] { return preview.shownFrame() == 40; }));
    preview.resize(900, 600);
    ASSERT_TRUE(waitFor([&] { return preview.canvas()->frame().width() > small.width(); }));
    EXPECT_EQ(preview.shownFrame(), 40) << "drawn again at the same time";
    const int large = preview.canvas()->frame().width();
    EXPECT_LE(large, (*full)->width());
    // Back to the small area: drawn small again.
    preview.resize(320, 240);
    ASSERT_TRUE(waitFor([&] { return preview.canvas()->frame().width() < large; }));
    EXPECT_EQ(preview.canvas()->frame().size(), small);
    EXPECT_EQ(preview.shownFrame(), 40);
}

TEST_F(Views, ExportFromThePanelWritesTheMovie) {
    AppEnvironment::instance->demoRecording("export me");
    QuillvaneApp app;
    app.declareScenes();
    app.mainWindowView()->libraryView()->list()->setCurrentRow(0);
    ui::ExportPanel *panel = app.mainWindowView()->exportPanel();
    ASSERT_TRUE(panel->exportButton()->isEnabled());
    // The default file is named after the recording, in the videos folder.
    EXPECT_TRUE(panel->outputEdit()->text().endsWith(QStringLiteral(".mp4")));
    panel->presetBox()->setCurrentIndex(panel->presetBox()->findData(QStringLiteral("compact")));
    const fs::path out = AppEnvironment::instance->root() / "out" / "movie.mp4";
    fs::create_directories(out.parent_path());
    panel->outputEdit()->setText(QString::fromStdString(out.string()));
    panel->markdownBox()->setChecked(true);
    QSignalSpy ended(panel, &ui::ExportPanel::exportEnded);
    panel->exportButton()->click();
    EXPECT_TRUE(panel->cancelButton()->isEnabled());
    EXPECT_FALSE(panel->exportButton()->isEnabled());
    ASSERT_TRUE(ended.wait(240000));
    ASSERT_TRUE(app.exportEngine().phase().is<ExportEngine::Phase::Finished>())
        << app.exportEngine().phase().description();
    EXPECT_TRUE(fs::exists(out));
    EXPECT_GT(fs::file_size(out), 10000u);
    EXPECT_TRUE(fs::exists(out.parent_path() / "movie.md"));
    EXPECT_EQ(panel->progressBar()->value(), 1000);
    EXPECT_TRUE(panel->statusLabel()->text().contains(QString::fromStdString(out.string())));
    EXPECT_TRUE(panel->showInFolderButton()->isVisibleTo(panel));
    EXPECT_EQ(panel->finishedFile(), out);
}

TEST_F(Views, ExportFailureShowsTheEnginesMessage) {
    AppEnvironment::instance->demoRecording("broken");
    fs::remove(AppEnvironment::instance->recordingsFolder() / "broken" / "screen.mp4");
    QuillvaneApp app;
    app.declareScenes();
    app.mainWindowView()->libraryView()->list()->setCurrentRow(0);
    ui::ExportPanel *panel = app.mainWindowView()->exportPanel();
    const fs::path out = AppEnvironment::instance->root() / "out" / "never.mp4";
    fs::create_directories(out.parent_path());
    panel->outputEdit()->setText(QString::fromStdString(out.string()));
    QSignalSpy ended(panel, &ui::ExportPanel::exportEnded);
    panel->startExport();
    ASSERT_TRUE(ended.wait(60000));
    const auto *failed = app.exportEngine().phase().as<ExportEngine::Phase::Failed>();
    ASSERT_NE(failed, nullptr) << app.exportEngine().phase().description();
    EXPECT_TRUE(panel->statusLabel()->text().contains(QString::fromStdString(failed->message)));
    EXPECT_TRUE(panel->statusLabel()->text().contains(QStringLiteral("screen.mp4")));
    EXPECT_FALSE(fs::exists(out));
    EXPECT_FALSE(panel->showInFolderButton()->isVisibleTo(panel));
}

TEST(ExportPanelText, TimeLeft) {
    struct Row {
        double fraction;
        qint64 elapsedMs;
        const char *text;
    };
    const Row rows[] = {{0.0, 5000, "estimating the time left…"},
                        {0.5, 100, "estimating the time left…"},
                        {0.5, 10000, "about 10 s left"},
                        {0.25, 30000, "about 1 min 30 s left"},
                        {0.9, 9000, "about 1 s left"}};
    for (const Row &r : rows)
        EXPECT_EQ(ui::ExportPanel::timeLeftText(r.fraction, r.elapsedMs).toStdString(), r.text);
}

TEST(WindowPlacement, MovesAWindowOntoTheScreenItOverlapsMost) {
    struct Row {
        QRect window;
        QRect placed;
    };
    const QList<QRect> screens{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
    const Row rows[] = {
        {QRect(100, 100, 1024, 640), QRect(100, 100, 1024, 640)},   // inside
        {QRect(2000, 100, 1024, 640), QRect(2000, 100, 1024, 640)}, // inside the second
        {QRect(3000, 500, 1024, 640), QRect(2176, 384, 1024, 640)}, // off the right edge
        {QRect(-500, -300, 1024, 640), QRect(0, 0, 1024, 640)},     // off the top left
        {QRect(5000, 5000, 800, 600), QRect(1120, 480, 800, 600)},  // nowhere: the primary
        {QRect(1000, 0, 1024, 640), QRect(896, 0, 1024, 640)},      // mostly on the first
        {QRect(1500, 0, 1024, 640), QRect(1920, 0, 1024, 640)},     // mostly on the second
        {QRect(0, 0, 4000, 3000), QRect(0, 0, 1920, 1080)},         // too big: shrunk
    };
    for (const Row &r : rows)
        EXPECT_EQ(ui::WindowPlacement::placedOnScreen(r.window, screens), r.placed)
            << r.window.x() << "," << r.window.y();
}

} // namespace
} // namespace qv
