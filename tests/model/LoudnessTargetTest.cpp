#include <gtest/gtest.h>

#include "model/Localization.h"
#include "model/LoudnessTarget.h"

using namespace tessoral;

TEST(LoudnessTarget, RawValuesTitlesAndLevels) {
    EXPECT_EQ(allCases<LoudnessTarget>(),
              (std::vector<LoudnessTarget>{LoudnessTarget::none, LoudnessTarget::peak, LoudnessTarget::streaming,
                                           LoudnessTarget::podcast, LoudnessTarget::ebu, LoudnessTarget::atsc}));
    EXPECT_EQ(fromRaw<LoudnessTarget>("atsc"), LoudnessTarget::atsc);
    EXPECT_FALSE(fromRaw<LoudnessTarget>("EBU"));
    EXPECT_FALSE(fromRaw<LoudnessTarget>(""));

    EXPECT_EQ(title(LoudnessTarget::peak), "Пик −1 dBFS");
    EXPECT_EQ(title(LoudnessTarget::ebu), "EBU R128 −23 LUFS");
    EXPECT_EQ(title(LoudnessTarget::atsc), "ATSC A/85 −24 LUFS");

    EXPECT_FALSE(targetLUFS(LoudnessTarget::peak));
    EXPECT_EQ(targetLUFS(LoudnessTarget::podcast), -16.0);
    EXPECT_EQ(targetLUFS(LoudnessTarget::atsc), -24.0);
    EXPECT_FALSE(truePeakCeiling(LoudnessTarget::none));
    EXPECT_EQ(truePeakCeiling(LoudnessTarget::ebu), -1.0);
    EXPECT_EQ(truePeakCeiling(LoudnessTarget::atsc), -2.0);
}

TEST(LoudnessTarget, EnglishTitlesLeaveStandardsAlone) {
    Localization::use(AppLanguage::english, {{"Стриминг −14 LUFS", "Streaming −14 LUFS"}, {"EBU R128 −23 LUFS", "wrong"}});
    EXPECT_EQ(title(LoudnessTarget::streaming), "Streaming −14 LUFS");
    EXPECT_EQ(title(LoudnessTarget::ebu), "EBU R128 −23 LUFS");
    Localization::use(AppLanguage::russian, {});
}
