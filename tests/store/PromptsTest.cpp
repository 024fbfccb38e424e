#include <gtest/gtest.h>

#include "store/Prompts.h"

using namespace tessoral;

TEST(Prompts, SaveChoosersAddTheTypesExtensionOnlyWhenMissing) {
    EXPECT_EQ(withExtension("/a/Mix", "wav"), std::filesystem::path("/a/Mix.wav"));
    EXPECT_EQ(withExtension("/a/Mix.wav", "wav"), std::filesystem::path("/a/Mix.wav"));
    EXPECT_EQ(withExtension("/a/Mix.WAV", "wav"), std::filesystem::path("/a/Mix.WAV"));
    EXPECT_EQ(withExtension("/a/Mix.v2", "wav"), std::filesystem::path("/a/Mix.v2.wav"));
    EXPECT_EQ(withExtension("/a/Проект", "tessoral"), std::filesystem::path("/a/Проект.tessoral"));
    EXPECT_EQ(withExtension("/a/.tessoral", "tessoral"), std::filesystem::path("/a/.tessoral.tessoral"));
    EXPECT_EQ(withExtension("/a/Mix", ""), std::filesystem::path("/a/Mix"));
}
