#pragma once

#include <memory>

#include "store/StoreServices.h"

namespace tessoral {

class AppDelegate;
class MainWindow;
class StudioStore;
class TransportSignals;

// The store, its transport's signals, the delegate and the main window, built over the services
// given (the program's own, or fakes in tests and screenshots). The window goes first on
// destruction, the store last.
class Studio {
public:
    Studio(StoreServices services, bool demoRequested);
    ~Studio();
    Studio(const Studio&) = delete;
    Studio& operator=(const Studio&) = delete;

    StudioStore& store() { return *store_; }
    TransportSignals& transport() { return *transport_; }
    AppDelegate& delegate() { return *delegate_; }
    MainWindow& window() { return *window_; }

private:
    std::unique_ptr<StudioStore> store_;
    std::unique_ptr<TransportSignals> transport_;
    std::unique_ptr<AppDelegate> delegate_;
    std::unique_ptr<MainWindow> window_;
};

}  // namespace tessoral
