#include <gtest/gtest.h>

#include "store/Prompts.h"
#include "support/store/FakePrompts.h"
#include "support/store/FakeShell.h"

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

TEST(Prompts, FakesRecordRequestsAndAnswerFromTheirQueues) {
    test::FakePrompts prompts;
    prompts.alertAnswers = {2};
    prompts.saveAnswers = {std::filesystem::path("/tmp/Микс")};
    prompts.openAnswers = {{"/x/a.wav", "/x/b.tessoral"}};

    EXPECT_EQ(prompts.alert({"Сохранить изменения в проекте?", "Новый проект", {"Сохранить", "Отмена", "Не сохранять"}}), 2);
    EXPECT_EQ(prompts.alert({"again", "", {"OK"}}), std::nullopt);  // nothing queued: dismissed
    EXPECT_EQ(prompts.chooseSaveFile({"Экспорт микса", "Новый проект.flac", "flac", "FLAC", std::nullopt}),
              std::filesystem::path("/tmp/Микс.flac"));
    EXPECT_EQ(prompts.chooseSaveFile({"Сохранить проект", "x.tessoral", "tessoral", "", std::nullopt}), std::nullopt);
    EXPECT_EQ(prompts.chooseFilesToOpen({"Открыть аудио или проект", {}, true, std::nullopt}).size(), 2u);
    EXPECT_TRUE(prompts.chooseFilesToOpen({}).empty());
    EXPECT_EQ(prompts.chooseFolder({}), std::nullopt);

    ASSERT_EQ(prompts.alerts.size(), 2u);
    EXPECT_EQ(prompts.alerts[0].buttons[2], "Не сохранять");
    EXPECT_EQ(prompts.saves[0].proposedName, "Новый проект.flac");
    EXPECT_EQ(prompts.opens[0].title, "Открыть аудио или проект");
    EXPECT_EQ(prompts.shown(), 7u);

    test::FakeShell shell;
    shell.reveal({"/tmp/Микс.flac"});
    shell.noteRecentDocument("/tmp/p.tessoral");
    EXPECT_EQ(shell.revealed, (std::vector<std::vector<std::filesystem::path>>{{"/tmp/Микс.flac"}}));
    EXPECT_EQ(shell.recent, (std::vector<std::filesystem::path>{"/tmp/p.tessoral"}));
}
