#include "app/shell/QtPrompts.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <algorithm>

#include "app/shell/FileNames.h"
#include "model/Localization.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

std::filesystem::path toPath(const QString& s) { return FileNames::native(s); }

// Qt's own dialog where no desktop portal can be relied on (tests, virtual displays).
void configure(QFileDialog& dialog) {
    if (qEnvironmentVariableIsSet("TESSORAL_QT_DIALOGS") || QGuiApplication::platformName() == "offscreen" ||
        QGuiApplication::platformName() == "minimal")
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setWindowModality(Qt::WindowModal);
}

// Qt's own file dialog checks the chosen names through their text, in which a name that is no
// UTF-8 does not exist: it would refuse to open such a file or folder, and would replace one
// without asking. Those checks are made here on the real names.
class FileDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    void accept() override {
        const QStringList files = selectedFiles();
        const auto byBytes = [](const QString& f) {
            return !QFileInfo::exists(f) && std::filesystem::exists(FileNames::native(f));
        };
        const bool found = std::all_of(files.begin(), files.end(), [&](const QString& f) { return QFileInfo::exists(f) || byBytes(f); });
        if (files.isEmpty() || !found || std::none_of(files.begin(), files.end(), byBytes)) {
            QFileDialog::accept();
            return;
        }
        if (acceptMode() == QFileDialog::AcceptSave) {
            const std::filesystem::path target = FileNames::native(files.constFirst());
            if (std::filesystem::is_directory(target)) {
                setDirectory(FileNames::display(target));
                return;
            }
            const auto answer = QMessageBox::warning(
                this, windowTitle(),
                QFileDialog::tr("%1 already exists.\nDo you want to replace it?").arg(FileNames::display(target.filename())),
                QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
            if (answer != QMessageBox::Yes) return;
        }
        QDialog::accept();
    }
};

int openCount = 0;

// Counts a dialog as open for as long as it runs.
struct OpenDialog {
    OpenDialog() { ++openCount; }
    ~OpenDialog() { --openCount; }
    OpenDialog(const OpenDialog&) = delete;
    OpenDialog& operator=(const OpenDialog&) = delete;
};

}  // namespace

int QtPrompts::openDialogs() { return openCount; }

void QtPrompts::usePlainText(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
    for (QLabel* label : box.findChildren<QLabel*>())
        if (label->objectName().startsWith(QStringLiteral("qt_msgbox_"))) label->setTextFormat(Qt::PlainText);
}

QtPrompts::QtPrompts(std::function<QWidget*()> parent) : parent_(std::move(parent)) {}

std::unique_ptr<QMessageBox> QtPrompts::makeAlert(const AlertRequest& request, QWidget* parent,
                                                 std::vector<QAbstractButton*>& buttons) {
    auto box = std::make_unique<QMessageBox>(parent);
    box->setObjectName(QStringLiteral("promptAlert"));
    box->setWindowModality(Qt::WindowModal);
    box->setWindowTitle(QStringLiteral("Tessoral"));
    box->setText(qs(request.message));
    box->setInformativeText(qs(request.informative));
    switch (request.style) {
        case AlertRequest::Style::informational: box->setIcon(QMessageBox::Information); break;
        case AlertRequest::Style::warning: box->setIcon(QMessageBox::Warning); break;
        case AlertRequest::Style::critical: box->setIcon(QMessageBox::Critical); break;
    }
    const QString cancel = qs(L("Отмена"));
    buttons.clear();
    for (std::size_t i = 0; i < request.buttons.size(); ++i) {
        const QString title = qs(request.buttons[i]);
        QMessageBox::ButtonRole role = QMessageBox::ActionRole;
        if (i == 0) role = QMessageBox::AcceptRole;
        else if (title == cancel) role = QMessageBox::RejectRole;
        else if (request.buttons.size() == 3 && i == 2) role = QMessageBox::DestructiveRole;
        QPushButton* b = box->addButton(title, role);
        if (i == 0) box->setDefaultButton(b);
        if (role == QMessageBox::RejectRole) box->setEscapeButton(b);
        buttons.push_back(b);
    }
    if (buttons.empty()) box->setEscapeButton(box->addButton(QStringLiteral("OK"), QMessageBox::AcceptRole));
    usePlainText(*box);
    return box;
}

std::optional<int> QtPrompts::alert(const AlertRequest& request) {
    std::vector<QAbstractButton*> buttons;
    const auto box = makeAlert(request, parent_ ? parent_() : nullptr, buttons);
    OpenDialog open;
    box->exec();
    QAbstractButton* clicked = box->clickedButton();
    // Dismissed without a button (Escape, the window's close): the cancel button's answer.
    if (!clicked) clicked = box->escapeButton();
    for (std::size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i] == clicked) return static_cast<int>(i);
    return std::nullopt;
}

QStringList QtPrompts::nameFilters(const std::vector<FileFilter>& filters) {
    QStringList out;
    for (const auto& f : filters) {
        QStringList patterns;
        for (const auto& ext : f.extensions) {
            const QString e = qs(ext);
            patterns << QStringLiteral("*.") + e;
            if (e.toUpper() != e) patterns << QStringLiteral("*.") + e.toUpper();
        }
        if (patterns.isEmpty()) patterns << QStringLiteral("*");
        out << QStringLiteral("%1 (%2)").arg(qs(f.name), patterns.join(QLatin1Char(' ')));
    }
    return out;
}

std::vector<std::filesystem::path> QtPrompts::chooseFilesToOpen(const OpenRequest& request) {
    FileDialog dialog(parent_ ? parent_() : nullptr, qs(request.title));
    configure(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!request.filters.empty()) dialog.setNameFilters(nameFilters(request.filters));
    if (request.folder) dialog.setDirectory(FileNames::display(*request.folder));
    std::vector<std::filesystem::path> out;
    OpenDialog open;
    if (dialog.exec() != QDialog::Accepted) return out;
    for (const QString& f : dialog.selectedFiles()) out.push_back(toPath(f));
    return out;
}

std::optional<std::filesystem::path> QtPrompts::chooseSaveFile(const SaveRequest& request) {
    FileDialog dialog(parent_ ? parent_() : nullptr, qs(request.title));
    configure(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!request.extension.empty()) {
        dialog.setNameFilters(nameFilters({FileFilter{request.filterName.empty() ? request.extension : request.filterName,
                                                      {request.extension}}}));
        dialog.setDefaultSuffix(qs(request.extension));
    }
    if (request.folder) dialog.setDirectory(FileNames::display(*request.folder));
    dialog.selectFile(qs(request.proposedName));
    OpenDialog open;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return withExtension(toPath(dialog.selectedFiles().constFirst()), request.extension);
}

std::optional<std::filesystem::path> QtPrompts::chooseFolder(const FolderRequest& request) {
    FileDialog dialog(parent_ ? parent_() : nullptr, qs(request.title));
    configure(dialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (!request.prompt.empty()) dialog.setLabelText(QFileDialog::Accept, qs(request.prompt));
    if (request.folder) dialog.setDirectory(FileNames::display(*request.folder));
    OpenDialog open;
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return toPath(dialog.selectedFiles().constFirst());
}

}  // namespace tessoral
