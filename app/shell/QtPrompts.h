#pragma once

#include <QPointer>
#include <QSize>
#include <QWidget>

#include <functional>
#include <memory>
#include <vector>

class QAbstractButton;
class QMessageBox;

#include "store/Prompts.h"

namespace tessoral {

// The store's dialogs as Qt message boxes and file dialogs, each window-modal over the window that
// `parent` gives at the moment of asking (the open sheet, else the main window).
class QtPrompts final : public Prompts {
public:
    explicit QtPrompts(std::function<QWidget*()> parent);

    std::optional<int> alert(const AlertRequest& request) override;
    std::vector<std::filesystem::path> chooseFilesToOpen(const OpenRequest& request) override;
    std::optional<std::filesystem::path> chooseSaveFile(const SaveRequest& request) override;
    std::optional<std::filesystem::path> chooseFolder(const FolderRequest& request) override;

    // The message box of an alert, its buttons in the request's order (the first is the default,
    // "Отмена" answers Escape).
    static std::unique_ptr<QMessageBox> makeAlert(const AlertRequest& request, QWidget* parent,
                                                  std::vector<QAbstractButton*>& buttons);
    // Shows the message box's texts as plain text (names from user data may look like markup).
    static void usePlainText(QMessageBox& box);
    // The buttons of a message box as a sheet's: the default one (Return) in the prominent look,
    // each with kButtonPadding of room at either side of its text.
    static void styleButtons(QMessageBox& box);
    static constexpr int kButtonPadding = 20;

    // The size Qt's own file dialog opens at: the one a person last gave it, else one that shows
    // its columns whole; its frame (as drawn around `parent`'s window) never larger than the
    // screen's available area.
    static QSize fileDialogSize(const QWidget* parent);

    // How many of these dialogs are open right now (each runs its own event loop until answered).
    static int openDialogs();

    // The name filters of a chooser ("Аудио (*.wav *.WAV *.flac …)").
    static QStringList nameFilters(const std::vector<FileFilter>& filters);

private:
    std::function<QWidget*()> parent_;
};

}  // namespace tessoral
