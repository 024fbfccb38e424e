#include <gtest/gtest.h>

#include "model/Localization.h"
#include "model/LoudnessTarget.h"

using namespace tessoral;

TEST(LoudnessTarget, EnglishTitlesLeaveStandardsAlone) {
    Localization::use(AppLanguage::english, {{"Стриминг −14 LUFS", "Streaming −14 LUFS"}, {"EBU R128 −23 LUFS", "wrong"}});
    EXPECT_EQ(title(LoudnessTarget::streaming), "Streaming −14 LUFS");
    EXPECT_EQ(title(LoudnessTarget::ebu), "EBU R128 −23 LUFS");
    Localization::use(AppLanguage::russian, {});
}
