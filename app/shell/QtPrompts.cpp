#include "app/shell/QtPrompts.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSettings>
#include <QShowEvent>
#include <QTimer>
#include <QTreeView>

#include <algorithm>
#include <system_error>

#include "app/shell/FileNames.h"
#include "app/shell/StatusLog.h"
#include "model/Localization.h"
#include "model/UnicodeText.h"
#include "widgets/Styling.h"

namespace tessoral {

namespace {

QString qs(const std::string& s) { return QString::fromStdString(s); }

constexpr const char* kDialogSizeKey = "Tessoral.FileDialog/size";
// How long the window manager has to give the keyboard to a window after a dialog closes.
constexpr int kKeyboardBackMs = 250;

std::filesystem::path toPath(const QString& s) { return FileNames::native(s); }

// Qt's own dialog in tests and on virtual displays, where no desktop portal can be relied on.
// Elsewhere Qt decides as the dialog is shown: a platform theme's native dialog where one is
// loaded, Qt's own everywhere else (a plain X11 or Wayland session loads none).
void configure(QFileDialog& dialog) {
    if (qEnvironmentVariableIsSet("TESSORAL_QT_DIALOGS") || QGuiApplication::platformName() == "offscreen" ||
        QGuiApplication::platformName() == "minimal")
        dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setWindowModality(Qt::WindowModal);
}

// Gives the keyboard back to `window` once the dialog or question over it has closed. The window
// manager passes it on to the window under a closing one, but not always when two close back to
// back (a question over the file dialog answered by a click, then the dialog): Openbox then leaves
// it with no window at all, and the program's keys do nothing until a click. So when, after the
// window manager's turn, none of the program's windows has it, `window` takes it.
int openCount = 0;

// A dialog that opened meanwhile keeps it: it may not have it yet as it is mapped, and taking it
// for the window it blocks would drop the keys a person types into it as it opens.
void giveKeyboardBack(QWidget* window) {
    if (!window) return;
    QTimer::singleShot(kKeyboardBackMs, window, [window] {
        if (openCount > 0 || QApplication::activeModalWidget()) return;
        if (!QApplication::activeWindow()) window->window()->activateWindow();
    });
}

// Whether the system could not examine a typed path at all (as opposed to finding nothing there):
// too long a name, a loop of symbolic links, a folder the user may not enter, a failing disk.
std::optional<std::error_code> unexaminable(const std::filesystem::path& path) {
    std::error_code ec;
    (void)std::filesystem::status(path, ec);
    if (!ec || ec == std::errc::no_such_file_or_directory || ec == std::errc::not_a_directory) return std::nullopt;
    return ec;
}

// Qt's own file dialog checks the chosen names through their text, in which a name that is no
// UTF-8 does not exist: it would refuse to open such a file or folder, and would replace one
// without asking. Those checks are made here on the real names, none of them throwing: a name the
// system cannot examine is refused with its reason and the dialog stays open. Replacing a file is
// asked here for every name, in the program's look, "No" the default.
class FileDialog final : public QFileDialog {
public:
    using QFileDialog::QFileDialog;

    // Keeps the size a person gave Qt's own dialog for the next one. A size left as it opened is
    // not kept: it may be one bounded by a small screen, and the size kept before stays.
    void keepSize() const {
        if (!shownOwn_ || size() == given_) return;
        QSettings settings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral"));
        settings.setValue(QString::fromLatin1(kDialogSizeKey), size());
    }

    void accept() override {
        dropLeftoverSelection();
        const QStringList files = selectedFiles();
        for (const QString& f : files) {
            const std::filesystem::path path = FileNames::native(f);
            if (const auto failure = unexaminable(path)) {
                refuse(path, *failure);
                return;
            }
        }
        const auto exists = [](const std::filesystem::path& p) {
            std::error_code ec;
            return std::filesystem::exists(p, ec);
        };
        const auto byBytes = [&](const QString& f) { return !QFileInfo::exists(f) && exists(FileNames::native(f)); };
        if (acceptMode() == QFileDialog::AcceptSave && !files.isEmpty()) {
            const QString& chosen = files.constFirst();
            const std::filesystem::path target = FileNames::native(chosen);
            std::error_code ec;
            const bool folder = std::filesystem::is_directory(target, ec);
            if (folder && byBytes(chosen)) {
                setDirectory(FileNames::display(target));
                return;
            }
            // A native dialog has asked already; Qt's own is left to take the name after the answer.
            if (!folder && exists(target) && (shownOwn_ || byBytes(chosen))) {
                if (!replaceConfirmed(target)) return;
                if (byBytes(chosen)) {
                    QDialog::accept();
                    return;
                }
                setOption(QFileDialog::DontConfirmOverwrite, true);
                QFileDialog::accept();
                setOption(QFileDialog::DontConfirmOverwrite, false);
                return;
            }
            QFileDialog::accept();
            return;
        }
        const bool found = std::all_of(files.begin(), files.end(), [&](const QString& f) { return QFileInfo::exists(f) || byBytes(f); });
        if (files.isEmpty() || !found || std::none_of(files.begin(), files.end(), byBytes)) {
            QFileDialog::accept();
            return;
        }
        QDialog::accept();
    }

protected:
    // Qt has chosen by now: a native dialog leaves this one off the screen, Qt's own shows its
    // widgets. Sized before QDialog centres it over its parent.
    void showEvent(QShowEvent* event) override {
        if (!shownOwn_ && !testAttribute(Qt::WA_DontShowOnScreen)) {
            shownOwn_ = true;
            resize(QtPrompts::fileDialogSize(parentWidget()));
            given_ = size();
            // Open, Save or the folder chooser's prompt: the default button in the program's look.
            if (auto* buttons = findChild<QDialogButtonBox*>(QStringLiteral("buttonBox")))
                for (QAbstractButton* b : buttons->buttons())
                    if (buttons->buttonRole(b) == QDialogButtonBox::AcceptRole) styling::makeProminent(b);
            // The detailed view's size, type and date as wide as their texts, the name in the rest:
            // dates are never cut in the middle.
            if (auto* tree = findChild<QTreeView*>(QStringLiteral("treeView"))) {
                QHeaderView* header = tree->header();
                header->setStretchLastSection(false);
                header->setSectionResizeMode(0, QHeaderView::Stretch);
                for (int c = 1; c < header->count(); ++c) header->setSectionResizeMode(c, QHeaderView::ResizeToContents);
            }
        }
        QFileDialog::showEvent(event);
    }

private:
    bool shownOwn_ = false;
    QSize given_;

    // A path typed through a folder selects that folder as its name is typed, and Qt takes it out of
    // the selection again as the path goes on; when the folder's listing changes meanwhile (on a busy
    // machine) it may stay selected, and the selection goes before the typed name: Return would
    // open that folder and the name would be lost. The list only offers what it shows, so anything
    // else selected is such a leftover.
    void dropLeftoverSelection() {
        auto* list = findChild<QListView*>(QStringLiteral("listView"));
        if (!list || !list->selectionModel()) return;
        QItemSelection leftover;
        for (const QModelIndex& index : list->selectionModel()->selectedIndexes())
            if (index.parent() != list->rootIndex()) leftover.select(index, index);
        if (!leftover.isEmpty()) list->selectionModel()->select(leftover, QItemSelectionModel::Deselect);
    }

    bool replaceConfirmed(const std::filesystem::path& target) {
        QMessageBox box(QMessageBox::Warning, windowTitle(),
                        QFileDialog::tr("%1 already exists.\nDo you want to replace it?")
                            .arg(FileNames::display(target.filename())),
                        QMessageBox::Yes | QMessageBox::No, this);
        box.setObjectName(QStringLiteral("replaceQuestion"));
        box.setWindowModality(Qt::WindowModal);
        box.setDefaultButton(QMessageBox::No);
        QtPrompts::usePlainText(box);
        QtPrompts::styleButtons(box);
        return box.exec() == QMessageBox::Yes;
    }

    void refuse(const std::filesystem::path& path, const std::error_code& failure) {
        QString shown = qs(UnicodeText::wellFormed(path.filename().empty() ? path.native() : path.filename().native()));
        // A name too long for the system is shortened in the middle, so the reason stays in sight.
        if (shown.size() > 80) shown = shown.left(48) + QChar(0x2026) + shown.right(24);
        const std::string name = shown.toStdString();
        const std::string reason = failure.message();
        std::string text;
        if (acceptMode() == QFileDialog::AcceptSave)
            text = L("Не удалось записать файл «{0}»: {1}", name, reason);
        else if (fileMode() == QFileDialog::Directory)
            text = L("Не удалось открыть папку «{0}»: {1}", name, reason);
        else
            text = L("Не удалось прочитать файл «{0}»: {1}", name, reason);
        qCInfo(statusLog).noquote() << qs(text);
        QMessageBox box(QMessageBox::Warning, windowTitle(), qs(text), QMessageBox::Ok, this);
        box.setObjectName(QStringLiteral("fileDialogRefusal"));
        box.setWindowModality(Qt::WindowModal);
        box.setDefaultButton(QMessageBox::Ok);
        QtPrompts::usePlainText(box);
        QtPrompts::styleButtons(box);
        box.exec();
    }
};

// Counts a dialog as open for as long as it runs; then gives the keyboard back to the window it
// opened over.
struct OpenDialog {
    explicit OpenDialog(QWidget* over) : over_(over) { ++openCount; }
    ~OpenDialog() {
        --openCount;
        giveKeyboardBack(over_);
    }
    OpenDialog(const OpenDialog&) = delete;
    OpenDialog& operator=(const OpenDialog&) = delete;

private:
    QPointer<QWidget> over_;
};

}  // namespace

int QtPrompts::openDialogs() { return openCount; }

QSize QtPrompts::fileDialogSize(const QWidget* parent) {
    // Wide enough for the side bar and the four columns of the detailed view, dates whole.
    QSize size(920, 560);
    const QSize kept = QSettings(QStringLiteral("Tessoral"), QStringLiteral("Tessoral"))
                           .value(QString::fromLatin1(kDialogSizeKey))
                           .toSize();
    if (kept.isValid() && !kept.isEmpty()) size = kept;
    const QWidget* window = parent ? parent->window() : nullptr;
    const QScreen* screen = window ? window->screen() : QGuiApplication::primaryScreen();
    if (!screen) return size;
    // The desktop draws the same title bar and borders around the dialog as around the window it
    // opens over: the whole frame fits on the screen, its last row (file type, Cancel) included.
    QSize frame(0, 0);
    if (window && window->isVisible()) frame = (window->frameGeometry().size() - window->size()).expandedTo(QSize(0, 0));
    return size.boundedTo(screen->availableGeometry().size() - frame);
}

void QtPrompts::usePlainText(QMessageBox& box) {
    box.setTextFormat(Qt::PlainText);
    for (QLabel* label : box.findChildren<QLabel*>())
        if (label->objectName().startsWith(QStringLiteral("qt_msgbox_"))) label->setTextFormat(Qt::PlainText);
}

void QtPrompts::styleButtons(QMessageBox& box) {
    for (QAbstractButton* b : box.buttons()) {
        b->setMinimumWidth(b->fontMetrics().horizontalAdvance(b->text()) + 2 * kButtonPadding);
        if (b == box.defaultButton()) styling::makeProminent(b);
    }
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
    styleButtons(*box);
    return box;
}

std::optional<int> QtPrompts::alert(const AlertRequest& request) {
    std::vector<QAbstractButton*> buttons;
    const QPointer<QWidget> parent = parent_ ? parent_() : nullptr;
    const auto box = makeAlert(request, parent, buttons);
    OpenDialog open(parent);
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
        // Each pattern once: Qt's own dialog matches names without regard to case ("*.wav" lists
        // "TAKE.WAV" too), and the filter's text shows the list as it is.
        for (const auto& ext : f.extensions) patterns << QStringLiteral("*.") + qs(ext);
        if (patterns.isEmpty()) patterns << QStringLiteral("*");
        out << QStringLiteral("%1 (%2)").arg(qs(f.name), patterns.join(QLatin1Char(' ')));
    }
    return out;
}

std::vector<std::filesystem::path> QtPrompts::chooseFilesToOpen(const OpenRequest& request) {
    const QPointer<QWidget> parent = parent_ ? parent_() : nullptr;
    FileDialog dialog(parent, qs(request.title));
    configure(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    if (!request.filters.empty()) dialog.setNameFilters(nameFilters(request.filters));
    if (request.folder) dialog.setDirectory(FileNames::display(*request.folder));
    std::vector<std::filesystem::path> out;
    OpenDialog open(parent);
    const int answer = dialog.exec();
    dialog.keepSize();
    if (answer != QDialog::Accepted) return out;
    for (const QString& f : dialog.selectedFiles()) out.push_back(toPath(f));
    return out;
}

std::optional<std::filesystem::path> QtPrompts::chooseSaveFile(const SaveRequest& request) {
    const QPointer<QWidget> parent = parent_ ? parent_() : nullptr;
    FileDialog dialog(parent, qs(request.title));
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
    OpenDialog open(parent);
    const int answer = dialog.exec();
    dialog.keepSize();
    if (answer != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return withExtension(toPath(dialog.selectedFiles().constFirst()), request.extension);
}

std::optional<std::filesystem::path> QtPrompts::chooseFolder(const FolderRequest& request) {
    const QPointer<QWidget> parent = parent_ ? parent_() : nullptr;
    FileDialog dialog(parent, qs(request.title));
    configure(dialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (!request.prompt.empty()) dialog.setLabelText(QFileDialog::Accept, qs(request.prompt));
    if (request.folder) dialog.setDirectory(FileNames::display(*request.folder));
    OpenDialog open(parent);
    const int answer = dialog.exec();
    dialog.keepSize();
    if (answer != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    return toPath(dialog.selectedFiles().constFirst());
}

}  // namespace tessoral
