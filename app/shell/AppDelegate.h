#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>

#include <filesystem>
#include <functional>
#include <vector>

#include "store/StudioStore.h"

namespace tessoral {



// Connects the one store to the desktop once the main window is first shown: offers crash recovery,
// then opens documents that arrived earlier (the latest request only), honours "--demo", and guards
// quitting and closing the window against losing a recording or unsaved changes.
class AppDelegate : public QObject {
    Q_OBJECT
public:
    explicit AppDelegate(bool demoRequested, QObject* parent = nullptr);

    // Once per run; every later call returns at once.
    void connectStore(StudioStore& store);
    bool connected() const { return store_ != nullptr; }

    // Documents the desktop or a later start asks to open: opened at once when connected, else
    // queued (replacing an earlier queued request).
    void openDocuments(const std::vector<std::filesystem::path>& files);
    const std::vector<std::filesystem::path>& pending() const { return pending_; }
    // Files handed over by a later start. While the store is not connected yet, a question waits
    // for its answer (`questionOpen`) or the store is locked (an import, an analysis, an export, a
    // recording), they wait too. Once all is over, `confirm` asks the later start whether they are
    // still wanted (it may have given up) and they are opened when it says so; a quit refuses the
    // ones still waiting (`refuse`). Without `confirm` they are opened.
    void handOver(const std::vector<std::filesystem::path>& files, std::function<bool()> confirm = {},
                  std::function<void()> refuse = {});
    std::size_t handedOver() const { return handedOver_.size(); }

    // The quit question: true = quit now. A recording is stopped and the program stays.
    bool shouldTerminate();
    // The window's close: never closes by itself; when allowed it asks the program to quit.
    bool windowShouldClose();
    // The one quit path: Выход, the window's close (through windowShouldClose) and the session
    // manager all end here.
    void requestQuit();
    bool quitting() const { return terminating_; }
    // Quits without the unsaved-changes question (the program was told to end by a signal): a
    // recording is ended and its take placed, the unsaved changes are written to the recovery copy,
    // which the next start offers, `workKept` is told, and then `terminate` lets the work under way
    // finish.
    void quitWithoutAsking();
    // A quit signal. While one of the store's questions waits in its own event loop
    // (`questionWaits`), leaving through that loop would act on an answer nobody gave (the
    // recovery question's would discard the copy): the copy is written, the work under way
    // finishes and the program ends at once. Otherwise as quitWithoutAsking.
    void quitOnSignal(bool questionWaits);

    // What quitting does (finishWork, then leaving the event loop); set by the application.
    std::function<void()> terminate;
    // Saving the window, stopping the transport and waiting for the workers; set by the application.
    std::function<void()> finishWork;
    // Ends the process at once, past every event loop; set by the application.
    std::function<void()> endNow;
    // The unsaved work is on disk (or there was none, or it could not be written); set by the
    // application.
    std::function<void()> workKept;
    // Brings the main window to the front.
    std::function<void()> activate;
    // One of the program's questions or dialogs waits for an answer; set by the application.
    std::function<bool()> questionOpen;

private:
    void keepUnsavedWork();
    // The quit question, or the status line saying why the work under way holds the quit.
    bool allowQuit();
    void deliverHandedOver();
    void refuseHandedOver();
    struct HandedOver {
        std::vector<std::filesystem::path> files;
        std::function<bool()> confirm;
        std::function<void()> refuse;
    };

    QPointer<StudioStore> store_;
    std::vector<std::filesystem::path> pending_;
    std::vector<HandedOver> handedOver_;
    QTimer handOverRetry_;
    bool demo_;
    bool terminating_ = false;
};

}  // namespace tessoral
