// Person segmentation on a real photograph (scikit-image's public-domain astronaut portrait,
// fetched by scripts/install-deps.sh), the choice of model by aspect, and the errors.
#include "platform/inference/person_segmenter.h"

#include "platform/core/resources.h"
#include "platform/imageio/png.h"
#include "platform/inference/interpreter.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace qv::platform {
namespace {

const std::filesystem::path kPhoto = std::filesystem::path(QV_TEST_DATA_DIR) / "astronaut.png";

struct Box {
    const char *name;
    double x0, y0, x1, y1; // normalised to the frame
};

// Mean coverage (0..1) of the mask over a normalised box.
double meanCoverage(const PixelBuffer &mask, const Box &b) {
    const int x0 = static_cast<int>(b.x0 * mask.width()),
              x1 = static_cast<int>(b.x1 * mask.width());
    const int y0 = static_cast<int>(b.y0 * mask.height());
    const int y1 = static_cast<int>(b.y1 * mask.height());
    double sum = 0;
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) sum += mask.row(y)[x];
    return sum / (255.0 * (x1 - x0) * (y1 - y0));
}

class PersonSegmenterTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto s = PersonSegmenter::open();
        ASSERT_TRUE(s) << s.error().message;
        segmenter_ = std::move(*s);
    }
    // The photograph, or null with the test skipped when it has not been fetched.
    PixelBufferRef photo() {
        if (!std::filesystem::exists(kPhoto)) return nullptr;
        auto p = readPng(kPhoto);
        EXPECT_TRUE(p) << p.error().message;
        return p ? *p : nullptr;
    }
    // `src` stretched (nearest pixel) to a frame of the given size.
    static PixelBufferRef stretched(const PixelBuffer &src, int w, int h) {
        auto out = PixelBuffer::create(w, h, PixelFormat::bgra8);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                std::memcpy(out->row(y) + 4 * x,
                            src.row(y * src.height() / h) + 4 * (x * src.width() / w), 4);
        return out;
    }

    std::unique_ptr<PersonSegmenter> segmenter_;
};

// The photograph (512 x 512): the astronaut's face around (0.35..0.58, 0.05..0.35) of the frame,
// her orange suit filling the lower left, a flag along the left edge, a model spacecraft at the
// right and a plain grey backdrop between. The boxes stay well inside each region, so a good mask
// is near 1 in the face and suit boxes and near 0 in the background boxes (two top corners and
// the backdrop right of the head). The thresholds (mean coverage above 0.8, below 0.2) leave room
// for soft edges and for the differences between the two models while failing any mask that is
// inverted, blank, full or shifted by a tenth of the frame.
const Box kPerson[] = {{"face", 0.38, 0.12, 0.54, 0.30}, {"suit", 0.12, 0.60, 0.48, 0.90}};
const Box kBackground[] = {{"top left", 0.0, 0.0, 0.12, 0.12},
                           {"top right", 0.88, 0.0, 1.0, 0.12},
                           {"right of the head", 0.62, 0.05, 0.72, 0.25}};

TEST_F(PersonSegmenterTest, MaskCoversThePersonAndNotTheBackground) {
    const auto picture = photo();
    if (!picture) GTEST_SKIP() << kPhoto << " is missing: run scripts/install-deps.sh";
    struct Case {
        PersonSegmenter::ModelChoice choice;
        int width, height; // of the frame given to the segmenter
    };
    const Case cases[] = {{PersonSegmenter::ModelChoice::byAspect, 512, 512},
                          {PersonSegmenter::ModelChoice::landscape, 1280, 720}};
    for (const auto &c : cases) {
        const auto frame = stretched(*picture, c.width, c.height);
        auto mask = segmenter_->segment(*frame, c.choice);
        ASSERT_TRUE(mask) << mask.error().message;
        const bool landscape = c.choice == PersonSegmenter::ModelChoice::landscape;
        EXPECT_EQ((*mask)->format(), PixelFormat::r8);
        EXPECT_EQ((*mask)->width(), 256);
        EXPECT_EQ((*mask)->height(), landscape ? 144 : 256);
        for (const Box &b : kPerson)
            EXPECT_GT(meanCoverage(**mask, b), 0.8) << b.name << (landscape ? " landscape" : "");
        for (const Box &b : kBackground)
            EXPECT_LT(meanCoverage(**mask, b), 0.2) << b.name << (landscape ? " landscape" : "");
    }
}

TEST_F(PersonSegmenterTest, ChoosesTheModelByAspect) {
    struct Case {
        int width, height, maskHeight;
    };
    // Wider than 4:3 takes the landscape model (256 x 144), 4:3 and narrower the square one.
    const Case cases[] = {{1280, 720, 144}, {641, 480, 144}, {640, 480, 256}, {480, 640, 256}};
    for (const auto &c : cases) {
        const auto frame = PixelBuffer::create(c.width, c.height, PixelFormat::bgra8);
        auto mask = segmenter_->segment(*frame);
        ASSERT_TRUE(mask) << mask.error().message;
        EXPECT_EQ((*mask)->width(), 256) << c.width << "x" << c.height;
        EXPECT_EQ((*mask)->height(), c.maskHeight) << c.width << "x" << c.height;
    }
}

TEST_F(PersonSegmenterTest, VectorAndScalarKernelsAgree) {
    using namespace inference;
    if (!avx2Kernels()) GTEST_SKIP() << "no AVX2 on this processor";
    const auto picture = photo();
    if (!picture) GTEST_SKIP() << kPhoto << " is missing: run scripts/install-deps.sh";
    auto model = readModel(*findResource("models/selfie_segmentation.tflite"));
    ASSERT_TRUE(model) << model.error().message;
    auto scalar = Interpreter::create(*model, scalarKernels());
    auto vector = Interpreter::create(*model, *avx2Kernels());
    ASSERT_TRUE(scalar && vector);
    const std::size_t n = (*scalar)->inputShape().size();
    for (std::size_t i = 0; i < n; ++i) {
        // Any input will do: the picture's bytes as values in [0, 1].
        const float v = picture->baseAddress()[i % (picture->bytesPerRow() * 512)] / 255.0f;
        (*scalar)->input()[i] = v;
        (*vector)->input()[i] = v;
    }
    (*scalar)->run();
    (*vector)->run();
    double worst = 0;
    for (std::size_t i = 0; i < (*scalar)->outputShape().size(); ++i)
        worst = std::max(worst, std::fabs(double{(*scalar)->output()[i]} - (*vector)->output()[i]));
    EXPECT_LT(worst, 1e-3);
}

TEST_F(PersonSegmenterTest, RefusesAMaskFrame) {
    const auto frame = PixelBuffer::create(64, 64, PixelFormat::r8);
    auto mask = segmenter_->segment(*frame);
    ASSERT_FALSE(mask);
    EXPECT_NE(mask.error().message.find("BGRA"), std::string::npos) << mask.error().message;
}

TEST(PersonSegmenterOpen, NamesADamagedModelFile) {
    testing::TempDir dir;
    const auto models = dir.path() / "models";
    std::filesystem::create_directories(models);
    std::ofstream(models / "selfie_segmentation.tflite") << "not a model";
    const char *old = std::getenv("QUILLVANE_RESOURCES");
    const std::string saved = old ? old : "";
    setenv("QUILLVANE_RESOURCES", dir.path().c_str(), 1);
    auto s = PersonSegmenter::open();
    if (old)
        setenv("QUILLVANE_RESOURCES", saved.c_str(), 1);
    else
        unsetenv("QUILLVANE_RESOURCES");
    ASSERT_FALSE(s);
    EXPECT_NE(s.error().message.find((models / "selfie_segmentation.tflite").string()),
              std::string::npos)
        << s.error().message;
    EXPECT_NE(s.error().message.find("TFL3"), std::string::npos) << s.error().message;
}

} // namespace
} // namespace qv::platform
