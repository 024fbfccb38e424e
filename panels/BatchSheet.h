#pragma once

#include <QPointer>
#include <QWidget>

#include <filesystem>
#include <memory>
#include <vector>

#include "model/EffectSlot.h"
#include "processing/BatchController.h"

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QVBoxLayout;

namespace tessoral {

class StudioStore;
class TransportSignals;

// Batches that are still running, whichever sheet started them (a batch outlives its sheet).
namespace BatchRuns {
// Cancels every running batch and waits until each worker has returned. For quitting.
void cancelAllAndWait();
// Workers started and not yet returned.
int running();
}  // namespace BatchRuns

// Many audio files through one effect chain into a folder (560 wide): the file list, the chain and
// output settings, progress while it runs, and the report. The sheet owns its batch controller; a
// running batch finishes (and reveals its files) even when the sheet has gone.
class BatchProcessSheet : public QWidget {
    Q_OBJECT
public:
    BatchProcessSheet(StudioStore& store, TransportSignals* transport, QWidget* parent = nullptr);
    ~BatchProcessSheet() override;

    const std::shared_ptr<BatchController>& controller() const { return batch_; }

    // The chain a batch would apply now: the chosen favourite's slots (fresh ids, cleaned
    // values), else the selected clip's whole rack, else none.
    std::vector<EffectSlot> rack() const;

    // The choosers, through the store's prompts.
    void addFiles();
    void chooseFolder();
    void start();
    void stop();

    QLabel* fileCountLabel() const { return fileCount_; }
    std::vector<QLabel*> fileLabels() const;
    std::vector<QAbstractButton*> removeButtons() const;
    QPushButton* clearButton() const { return clear_; }
    QWidget* form() const { return form_; }
    QComboBox* sourcePicker() const { return source_; }
    QLabel* chainLabel() const { return chain_; }
    QCheckBox* normalizeToggle() const { return normalize_; }
    QComboBox* formatPicker() const { return format_; }
    QComboBox* ratePicker() const { return rate_; }
    QCheckBox* ditherToggle() const { return dither_; }
    QLabel* folderLabel() const { return folder_; }
    QWidget* progressRow() const { return progressRow_; }
    QProgressBar* progressBar() const { return progress_; }
    QLabel* progressLabel() const { return progressText_; }
    QWidget* reportBox() const { return reportBox_; }
    QLabel* reportSummary() const { return reportSummary_; }
    // The lines under the summary: failures, inputs cut short, the inputs done before a stop.
    std::vector<QLabel*> reportLabels() const;
    QLabel* resultLabel() const { return result_; }
    QPushButton* closeButton() const { return close_; }
    QPushButton* startButton() const { return start_; }
    QPushButton* stopButton() const { return stop_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void refresh();
    void refreshFiles();
    void refreshSource();
    void refreshReport();

    StudioStore& store_;
    std::shared_ptr<BatchController> batch_;
    QPointer<QWidget> filteredWindow_;
    std::vector<std::filesystem::path> shownInputs_;
    std::optional<BatchReport> shownReport_;
    bool reportShown_ = false;

    QLabel* fileCount_ = nullptr;
    QPushButton* clear_ = nullptr;
    QWidget* fileList_ = nullptr;
    QVBoxLayout* fileRows_ = nullptr;
    QWidget* form_ = nullptr;
    QComboBox* source_ = nullptr;
    QLabel* chain_ = nullptr;
    QCheckBox* normalize_ = nullptr;
    QComboBox* format_ = nullptr;
    QComboBox* rate_ = nullptr;
    QCheckBox* dither_ = nullptr;
    QLabel* folder_ = nullptr;
    QWidget* progressRow_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLabel* progressText_ = nullptr;
    QWidget* reportBox_ = nullptr;
    QLabel* reportSummary_ = nullptr;
    QVBoxLayout* failureRows_ = nullptr;
    QLabel* result_ = nullptr;
    QPushButton* close_ = nullptr;
    QPushButton* start_ = nullptr;
    QPushButton* stop_ = nullptr;
};

}  // namespace tessoral
