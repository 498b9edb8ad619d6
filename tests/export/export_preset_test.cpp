// The closed list of export presets and what each one stands for.
#include "Outfitter/export_preset.h"
#include "platform/media/export_session.h"

#include <gtest/gtest.h>

#include <unordered_set>

namespace qv {
namespace {

using platform::media::FileType;

TEST(ExportPreset, CasesRawValuesIdsAndTitlesInDeclarationOrder) {
    const auto &all = ExportPreset::allCases();
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[0], ExportPreset::web);
    EXPECT_EQ(all[1], ExportPreset::compact);
    EXPECT_EQ(all[2], ExportPreset::proRes);
    EXPECT_EQ(all[3], ExportPreset::hevc);
    const char *raw[] = {"web", "compact", "proRes", "hevc"};
    const char *titles[] = {"Web (H.264)", "Compact (H.264)", "ProRes (archival)", "HEVC (small)"};
    for (std::size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].rawValue(), raw[i]);
        EXPECT_EQ(all[i].id(), raw[i]);
        EXPECT_EQ(all[i].title(), titles[i]);
    }
    std::unordered_set<ExportPreset> distinct(all.begin(), all.end());
    EXPECT_EQ(distinct.size(), 4u);
}

TEST(ExportPreset, InitFromRawValueIsExactAndCaseSensitive) {
    for (ExportPreset p : ExportPreset::allCases())
        EXPECT_EQ(ExportPreset::fromRawValue(p.rawValue()), p);
    for (const char *text : {"ProRes", "HEVC", "Web", "COMPACT", "prores", " web", "web ", ""})
        EXPECT_FALSE(ExportPreset::fromRawValue(text)) << '"' << text << '"';
}

TEST(ExportPreset, OnlyProResIsAQuickTimeMovie) {
    EXPECT_EQ(ExportPreset(ExportPreset::proRes).fileType(), FileType::quickTimeMovie);
    EXPECT_EQ(ExportPreset(ExportPreset::proRes).fileExtension(), "mov");
    for (ExportPreset p : {ExportPreset::web, ExportPreset::compact, ExportPreset::hevc}) {
        EXPECT_EQ(p.fileType(), FileType::mpeg4) << p.rawValue();
        EXPECT_EQ(p.fileExtension(), "mp4") << p.rawValue();
    }
}

TEST(ExportPreset, EachCaseNamesAnEncoderSettingOfItsCharacter) {
    EXPECT_STREQ(ExportPreset(ExportPreset::web).sessionPresetName(), "HighestQuality");
    EXPECT_STREQ(ExportPreset(ExportPreset::compact).sessionPresetName(), "MediumQuality");
    EXPECT_STREQ(ExportPreset(ExportPreset::proRes).sessionPresetName(), "ProRes422LPCM");
    EXPECT_STREQ(ExportPreset(ExportPreset::hevc).sessionPresetName(), "HEVCHighestQuality");

    const auto web = ExportPreset(ExportPreset::web).sessionSettings();
    const auto compact = ExportPreset(ExportPreset::compact).sessionSettings();
    const auto prores = ExportPreset(ExportPreset::proRes).sessionSettings();
    const auto hevc = ExportPreset(ExportPreset::hevc).sessionSettings();
    const auto copy = ExportPreset::passthroughSettings();
    EXPECT_EQ(web.name, "HighestQuality");
    EXPECT_EQ(copy.name, "Passthrough");
    EXPECT_EQ(web.video.codec, "libx264");
    EXPECT_EQ(compact.video.codec, "libx264");
    EXPECT_EQ(prores.video.codec, "prores_ks");
    EXPECT_EQ(prores.video.pixelFormat, "yuv422p10le");
    EXPECT_EQ(prores.audio.codec, "pcm_s16le");
    EXPECT_EQ(hevc.video.codec, "libx265");
    EXPECT_EQ(hevc.video.codecTag, "hvc1");
    EXPECT_TRUE(copy.passthrough);
    EXPECT_FALSE(web.passthrough);
    // Highest quality spends more bits than the compact setting.
    auto crf = [](const platform::media::ExportPresetSettings &s) {
        for (const auto &[k, v] : s.video.options)
            if (k == "crf") return std::stoi(v);
        return -1;
    };
    EXPECT_LT(crf(web), crf(compact));
}

} // namespace
} // namespace qv
