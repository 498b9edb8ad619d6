// The wallpaper generators, their seeded sequence, the wallpaper cache and the picture loader.
#include "Compositor/assets/bundled_wallpaper_loader.h"
#include "Compositor/assets/wallpaper_cache.h"
#include "Compositor/scene/background.h"
#include "Compositor/scene/bake_context.h"
#include "Compositor/scene/wallpaper_generators.h"
#include "platform/image/image_file.h"
#include "platform/imageio/png.h"

#include "scene_fixtures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>

namespace qv {
namespace {

namespace SR = SceneRenderer;
namespace fs = std::filesystem;
using Preset = Edits::WallpaperPreset;

platform::ImageRef raster(const Preset &p, int W, int H) {
    return SR::bakeContext().createImage(SR::wallpaperImage(p, {double(W), double(H)}),
                                         {0, 0, double(W), double(H)});
}

bool sameBytes(const platform::PixelBuffer &a, const platform::PixelBuffer &b) {
    if (a.width() != b.width() || a.height() != b.height()) return false;
    for (int j = 0; j < a.height(); ++j)
        if (std::memcmp(a.row(j), b.row(j), std::size_t(a.width()) * 4) != 0) return false;
    return true;
}

TEST(WallpaperRandom, IsTheFnvSeededSequence) {
    EXPECT_EQ(SR::WallpaperRandom::seedOf(""), 0xcbf29ce484222325ull);
    EXPECT_EQ(SR::WallpaperRandom::seedOf("a"), 0xaf63dc4c8601ec8cull);
    SR::WallpaperRandom r("aurora");
    for (double want :
         {0.4146334019989319, 0.06411841000991836, 0.8572365911345082, 0.6303807125963226})
        EXPECT_DOUBLE_EQ(r.next(), want);
}

TEST(WallpaperBlobs, ThreeColoursGiveFiveBlobsCyclingColoursAndRadii) {
    const Preset p{"trio", 0, {"#FF0000", "#00FF00", "#0000FF"}, std::nullopt};
    const auto blobs = SR::softBlobPlan(p, 200, 100);
    ASSERT_EQ(blobs.size(), 5u);
    const double u[10] = {0.137804, 0.823972, 0.034363, 0.838773, 0.212528,
                          0.34902,  0.291432, 0.557778, 0.100038, 0.704112};
    const SR::RGB colours[5] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {1, 0, 0}, {0, 1, 0}};
    const double radii[5] = {0.55, 0.725, 0.9, 0.55, 0.725};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(blobs[i].colour, colours[i]) << i;
        EXPECT_NEAR(blobs[i].radius, 100 * radii[i], 1e-9) << i;
        EXPECT_NEAR(blobs[i].centre.x, u[2 * i] * 200, 1e-3) << i;
        EXPECT_NEAR(blobs[i].centre.y, u[2 * i + 1] * 100, 1e-3) << i;
    }
}

TEST(WallpaperBlobs, NoColoursIsABlackCanvas) {
    const auto img = raster({"none", 0, {}, std::nullopt}, 30, 20);
    for (int j : {0, 19})
        for (int i : {0, 15, 29}) EXPECT_TRUE(testing::rgbNear(img->bitmap(), i, j, {0, 0, 0}, 0));
}

// Every kind fills the canvas opaquely, is not flat, and is the same picture every time.
TEST(Wallpaper, EveryBuiltInPresetIsOpaqueVariedAndRepeatable) {
    for (const auto &p : Edits::wallpaperPresets()) {
        const auto a = raster(p, 96, 54), b = raster(p, 96, 54);
        ASSERT_TRUE(a && b) << p.id;
        EXPECT_EQ(a->extent(), (Rect{0, 0, 96, 54})) << p.id;
        EXPECT_TRUE(sameBytes(a->bitmap(), b->bitmap())) << p.id;
        int lo = 255, hi = 0;
        for (int j = 0; j < 54; j += 3)
            for (int i = 0; i < 96; i += 3) {
                const std::uint8_t *px = a->bitmap().row(j) + 4 * i;
                ASSERT_EQ(px[3], 255) << p.id;
                lo = std::min(lo, px[0] + px[1] + px[2]);
                hi = std::max(hi, px[0] + px[1] + px[2]);
            }
        EXPECT_GT(hi - lo, 12) << p.id << " is flat";
    }
}

TEST(Wallpaper, BlobsOfTheBaseColourLeaveItUnchanged) {
    // Base and every blob share one colour: the over rule must give that colour back exactly
    // (premultiplied arithmetic, not a darkening or a halo at the blob edges).
    const auto img = raster({"one", 0, {"#FF8800"}, std::nullopt}, 60, 40);
    for (int j : {0, 20, 39})
        for (int i : {0, 30, 59})
            EXPECT_TRUE(testing::rgbNear(img->bitmap(), i, j, {0xFF, 0x88, 0x00}, 1));
}

TEST(Wallpaper, PictureKindFallsBackToItsFirstColour) {
    const Preset p{"lost", 3, {"#123456"}, std::string("no-such-picture")};
    const auto img = raster(p, 10, 8);
    EXPECT_TRUE(testing::rgbNear(img->bitmap(), 5, 4, {0x12, 0x34, 0x56}, 0));
    const auto black = raster({"lost2", 7, {}, std::nullopt}, 10, 8);
    EXPECT_TRUE(testing::rgbNear(black->bitmap(), 5, 4, {0, 0, 0}, 0));
}

TEST(Wallpaper, WavesWithOneColourAreThatColourEverywhere) {
    // c1 = c2 = c3: base and glow are one colour, so no distortion can show anything else.
    const auto img = raster({"mono", 2, {"#3366CC"}, std::nullopt}, 40, 30);
    for (int j : {0, 15, 29})
        for (int i : {0, 20, 39})
            EXPECT_TRUE(testing::rgbNear(img->bitmap(), i, j, {0x33, 0x66, 0xCC}, 1));
}

TEST(WallpaperCache, TruncatedSizesShareOneEntryAndOtherSizesGetTheirOwn) {
    const Preset &p = Edits::wallpaperPresets().at(1);
    const auto before = WallpaperCache::stats();
    const auto a = WallpaperCache::image(p, {192.0, 108.0});
    const auto b = WallpaperCache::image(p, {192.7, 108.2});
    ASSERT_TRUE(a);
    EXPECT_EQ(a, b);
    EXPECT_EQ(a->extent(), (Rect{0, 0, 192, 108}));
    const auto mid = WallpaperCache::stats();
    EXPECT_EQ(mid.entries, before.entries + 1);
    EXPECT_EQ(mid.renders, before.renders + 1);
    const auto c = WallpaperCache::image(p, {108, 192});
    EXPECT_NE(a, c);
    EXPECT_EQ(WallpaperCache::stats().entries, before.entries + 2);
    EXPECT_FALSE(WallpaperCache::image(p, {0, 100}));
    EXPECT_FALSE(WallpaperCache::image(p, {std::numeric_limits<double>::infinity(), 100}));
}

TEST(WallpaperCache, PreviewOfNoOrAnUnknownIdentityIsTheFirstPreset) {
    const auto first = raster(Edits::wallpaperPresets().front(), 64, 36);
    for (const auto &id : {std::optional<std::string>{}, std::optional<std::string>{"nope"}}) {
        const auto preview = SR::wallpaperPreview(id, {64, 36});
        ASSERT_TRUE(preview);
        EXPECT_TRUE(sameBytes(preview->bitmap(), first->bitmap()));
    }
    const auto second = SR::wallpaperPreview(Edits::wallpaperPresets().at(1).id, {64, 36});
    EXPECT_FALSE(sameBytes(second->bitmap(), first->bitmap()));
}

// A resource folder of its own for the loader, first in the search path.
class LoaderFolder : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/qv-wallpapers-XXXXXX";
        ASSERT_TRUE(mkdtemp(pattern));
        root_ = pattern;
        fs::create_directories(root_ / "Wallpapers");
        const char *old = std::getenv("QUILLVANE_RESOURCES");
        if (old) saved_ = old;
        setenv("QUILLVANE_RESOURCES", root_.c_str(), 1);
    }
    void TearDown() override {
        if (saved_)
            setenv("QUILLVANE_RESOURCES", saved_->c_str(), 1);
        else
            unsetenv("QUILLVANE_RESOURCES");
        fs::remove_all(root_);
    }
    // A 4 × 4 picture of one colour.
    void picture(const fs::path &relative, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
        auto pb = testing::solidBuffer(4, 4, r, g, b);
        const fs::path path = root_ / relative;
        if (path.extension() == ".png")
            ASSERT_TRUE(platform::writePng(path, *pb));
        else
            ASSERT_TRUE(platform::writeJpeg(path, *pb, 100));
    }
    static std::array<int, 3> colourOf(const platform::ImageRef &img) {
        return testing::rgbAt(img->bitmap(), 2, 2);
    }
    fs::path root_;
    std::optional<std::string> saved_;
};

TEST_F(LoaderFolder, JpgAtTheTopLevelWinsOverPngInsideWallpapers) {
    picture("Wallpapers/both-kinds.png", 255, 0, 0);
    picture("both-kinds.jpg", 0, 0, 255);
    const auto img = BundledWallpaperLoader::image("both-kinds");
    ASSERT_TRUE(img);
    const auto c = colourOf(img);
    EXPECT_LT(c[0], 20);
    EXPECT_GT(c[2], 235);
    EXPECT_EQ(BundledWallpaperLoader::image("both-kinds"), img); // decoded once
}

TEST_F(LoaderFolder, APictureIsKeptOnlyWhileInUse) {
    picture("Wallpapers/let-go.png", 0, 0, 255);
    auto img = BundledWallpaperLoader::image("let-go");
    ASSERT_TRUE(img);
    const std::weak_ptr<const platform::Image> kept = img;
    img.reset();
    EXPECT_TRUE(kept.expired());
    // Decoded again when asked for again.
    EXPECT_GT(colourOf(BundledWallpaperLoader::image("let-go"))[2], 235);
}

TEST_F(LoaderFolder, JpegInsideWallpapersIsFoundOnTheSecondExtension) {
    picture("Wallpapers/second-ext.jpeg", 0, 255, 0);
    const auto img = BundledWallpaperLoader::image("second-ext");
    ASSERT_TRUE(img);
    EXPECT_GT(colourOf(img)[1], 235);
}

TEST_F(LoaderFolder, AMissingNameIsSearchedForAgainEveryTime) {
    EXPECT_FALSE(BundledWallpaperLoader::image("late-comer"));
    EXPECT_FALSE(BundledWallpaperLoader::image("late-comer"));
    picture("Wallpapers/late-comer.png", 10, 20, 30);
    EXPECT_TRUE(BundledWallpaperLoader::image("late-comer"));
}

TEST_F(LoaderFolder, NamesThatAreNotFileNamesAreRefused) {
    picture("Wallpapers/inner.png", 1, 2, 3);
    EXPECT_FALSE(BundledWallpaperLoader::image("Wallpapers/inner"));
    EXPECT_FALSE(BundledWallpaperLoader::image("../inner"));
    EXPECT_FALSE(BundledWallpaperLoader::image(""));
}

TEST_F(LoaderFolder, AnUndecodableFileIsNotAPicture) {
    std::ofstream(root_ / "Wallpapers" / "broken.png") << "definitely not a png";
    EXPECT_FALSE(BundledWallpaperLoader::image("broken"));
}

// The shipped pictures are found through the build tree's share folder.
TEST(BundledWallpapers, EveryPicturePresetHasItsPicture) {
    for (const auto &p : Edits::wallpaperPresets()) {
        if (SR::wallpaperKind(p.kind) != SR::WallpaperKind::picture) continue;
        ASSERT_TRUE(p.pictureName) << p.id;
        const auto img = BundledWallpaperLoader::image(*p.pictureName);
        ASSERT_TRUE(img) << p.id;
        EXPECT_GE(img->bitmap().width(), 1920) << p.id;
    }
}

} // namespace
} // namespace qv
