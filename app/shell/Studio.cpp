#include "app/shell/Studio.h"

#include "app/shell/AppDelegate.h"
#include "app/shell/GuardedApplication.h"
#include "app/shell/MainWindow.h"
#include "app/shell/StatusLog.h"
#include "store/StudioStore.h"
#include "store/TransportSignals.h"

namespace tessoral {

Studio::Studio(StoreServices services, bool demoRequested) {
    store_ = std::make_unique<StudioStore>(std::move(services));
    transport_ = std::make_unique<TransportSignals>(store_->transport());
    delegate_ = std::make_unique<AppDelegate>(demoRequested);
    window_ = std::make_unique<MainWindow>(ViewContext{store_.get(), transport_.get()}, *delegate_);
    StudioStore* store = store_.get();
    QObject::connect(store, &StudioStore::statusChanged, store,
                     [store] { qCInfo(statusLog).noquote() << QString::fromStdString(store->status()); });
    // A failure that escapes an event handler is shown in this window; the project stays as it was.
    if (auto* app = qobject_cast<GuardedApplication*>(QCoreApplication::instance())) app->reportTo(store);
    QObject::connect(window_.get(), &MainWindow::firstShown, window_.get(),
                     [this] { delegate_->connectStore(*store_); });
    MainWindow* window = window_.get();
    delegate_->activate = [window] { window->bringForward(); };
}

Studio::~Studio() {
    // A gesture the window's teardown ends (a held key's burst, a drag) still reaches the project,
    // but no view is rebuilt from it while the window's children are being destroyed.
    store_->blockSignals(true);
    window_.reset();
    delegate_.reset();
    transport_.reset();
    store_.reset();
}

}  // namespace tessoral
