#include "app/shell/AppDelegate.h"

#include "model/Localization.h"
#include "store/StudioStore.h"
#include "widgets/ValueSlider.h"

namespace tessoral {

namespace {
bool sameFile(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code ec;
    if (std::filesystem::equivalent(a, b, ec)) return true;
    return a.lexically_normal() == b.lexically_normal();
}
}  // namespace

AppDelegate::AppDelegate(bool demoRequested, QObject* parent) : QObject(parent), demo_(demoRequested) {
    handOverRetry_.setInterval(200);
    connect(&handOverRetry_, &QTimer::timeout, this, &AppDelegate::deliverHandedOver);
}

void AppDelegate::connectStore(StudioStore& store) {
    if (store_) return;
    store_ = &store;
    if (activate) activate();
    // A recovery copy is offered first, whatever the program was started with: files given on
    // the command line or handed over meanwhile are opened after the answer (into the restored
    // project, or as given after the copy was discarded), so a start never throws a copy away
    // unasked.
    const bool restored = store.offerRecovery();
    if (restored && store.projectURL()) {
        // The restored copy is the newer state of its own project file: opening that file again
        // would only ask whether to throw the restored work away.
        std::erase_if(pending_, [&](const std::filesystem::path& file) { return sameFile(file, *store.projectURL()); });
    }
    if (!pending_.empty() && store_) {
        auto files = std::move(pending_);
        pending_.clear();
        store_->open(files);
    }
    if (restored) return;
    if (demo_ && store_) store_->loadDemo();
}

void AppDelegate::openDocuments(const std::vector<std::filesystem::path>& files) {
    if (store_) {
        // The request comes from outside the event flow (a later start): a slider's key burst still
        // open is a step made before it, and the import about to start would lock the store.
        ValueSliderTrack::endOpenBursts();
        if (activate) activate();
        if (!files.empty()) store_->open(files);
        return;
    }
    // A request without files (a later start that only brings the window forward) keeps the queue.
    if (!files.empty()) pending_ = files;
}

void AppDelegate::handOver(const std::vector<std::filesystem::path>& files, std::function<bool()> confirm,
                           std::function<void()> refuse) {
    handedOver_.push_back({files, std::move(confirm), std::move(refuse)});
    if (terminating_) {
        refuseHandedOver();
        return;
    }
    if (activate) activate();
    deliverHandedOver();
}

void AppDelegate::deliverHandedOver() {
    // A question's answer is the middle of a command, and a locked store would refuse the files.
    if (!store_ || (questionOpen && questionOpen()) || store_->locked()) {
        handOverRetry_.start();
        return;
    }
    handOverRetry_.stop();
    auto waiting = std::move(handedOver_);
    handedOver_.clear();
    std::vector<std::filesystem::path> files;
    for (HandedOver& h : waiting)
        if (!h.confirm || h.confirm()) files.insert(files.end(), h.files.begin(), h.files.end());
    openDocuments(files);
}

void AppDelegate::refuseHandedOver() {
    handOverRetry_.stop();
    auto waiting = std::move(handedOver_);
    handedOver_.clear();
    for (HandedOver& h : waiting)
        if (h.refuse) h.refuse();
}

bool AppDelegate::shouldTerminate() {
    if (!store_) return true;
    // The session manager asks from outside the event flow: a key burst still open is unsaved work.
    ValueSliderTrack::endOpenBursts();
    if (store_->transport().recording()) {
        store_->stop();
        return false;
    }
    if (!allowQuit()) return false;
    // An import under way only reads its files: a confirmed quit gives it up rather than wait for it.
    store_->abandonImport();
    return true;
}

bool AppDelegate::allowQuit() {
    if (store_->holdsQuit()) {
        store_->setStatus(L("Программа занята: выход станет возможен, когда закончится текущая работа"));
        return false;
    }
    return store_->allowQuit();
}

bool AppDelegate::windowShouldClose() {
    if (!store_) {
        requestQuit();
        return false;
    }
    if (store_->transport().recording()) {
        store_->stop();
        return false;
    }
    if (allowQuit()) {
        // The quit request that follows passes without asking a second time.
        store_->setDirty(false);
        store_->stop();
        requestQuit();
    }
    return false;
}

void AppDelegate::keepUnsavedWork() {
    // A slider's key burst still open is the last change: its step goes in before anything else.
    ValueSliderTrack::endOpenBursts();
    if (store_) {
        // A take being recorded is unsaved work too: stopping ends it and places it in the project
        // before it returns (the captured audio is read and the clip added on this thread), so the
        // copy written next holds it. Playback goes on until the copy is written.
        if (!store_->transport().playing()) store_->stop();
        // Then the unsaved changes go to the recovery copy, from the project as it stands: a save
        // or an export under way adds nothing to it and may last minutes.
        store_->writeRecoveryBeforeQuit();
    }
    // A second signal ends the program from now on.
    if (workKept) workKept();
    // Playback stops last, so the copy never waits for an output device that does not stop (see
    // kStreamStopLimit).
    if (store_) store_->stop();
}

void AppDelegate::quitWithoutAsking() {
    if (terminating_) return;
    terminating_ = true;
    refuseHandedOver();
    keepUnsavedWork();
    // Then the work under way finishes and the event loop is left.
    if (terminate) terminate();
}

void AppDelegate::quitOnSignal(bool questionWaits) {
    if (!questionWaits) {
        quitWithoutAsking();
        return;
    }
    if (terminating_) return;
    terminating_ = true;
    refuseHandedOver();
    keepUnsavedWork();
    if (finishWork) finishWork();
    if (endNow) endNow();
}

void AppDelegate::requestQuit() {
    if (terminating_) return;
    if (!shouldTerminate()) return;
    terminating_ = true;
    refuseHandedOver();
    if (terminate) terminate();
}

}  // namespace tessoral
