#pragma once

#include <deque>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "store/Prompts.h"

namespace tessoral::test {

// Scripted dialogs: every request is recorded, every answer comes from a queue the test fills.
// An empty queue answers as a cancel (no button, no files, no path).
class FakePrompts final : public Prompts {
public:
    // Recorded requests, in order.
    std::vector<AlertRequest> alerts;
    std::vector<OpenRequest> opens;
    std::vector<SaveRequest> saves;
    std::vector<FolderRequest> folders;

    // Queued answers.
    std::deque<std::optional<int>> alertAnswers;
    std::deque<std::vector<std::filesystem::path>> openAnswers;
    std::deque<std::optional<std::filesystem::path>> saveAnswers;  // the extension is added as a chooser would
    std::deque<std::optional<std::filesystem::path>> folderAnswers;
    // Runs while an alert is "on screen", before it is answered.
    std::function<void(const AlertRequest&)> onAlert;

    std::optional<int> alert(const AlertRequest& request) override {
        alerts.push_back(request);
        if (onAlert) onAlert(request);
        return next(alertAnswers, std::optional<int>{});
    }
    std::vector<std::filesystem::path> chooseFilesToOpen(const OpenRequest& request) override {
        opens.push_back(request);
        return next(openAnswers, std::vector<std::filesystem::path>{});
    }
    std::optional<std::filesystem::path> chooseSaveFile(const SaveRequest& request) override {
        saves.push_back(request);
        auto answer = next(saveAnswers, std::optional<std::filesystem::path>{});
        if (answer) answer = withExtension(*answer, request.extension);
        return answer;
    }
    std::optional<std::filesystem::path> chooseFolder(const FolderRequest& request) override {
        folders.push_back(request);
        return next(folderAnswers, std::optional<std::filesystem::path>{});
    }

    // Every dialog shown so far, any kind.
    std::size_t shown() const { return alerts.size() + opens.size() + saves.size() + folders.size(); }

private:
    template <class T>
    static T next(std::deque<T>& queue, T fallback) {
        if (queue.empty()) return fallback;
        T answer = std::move(queue.front());
        queue.pop_front();
        return answer;
    }
};

}  // namespace tessoral::test
