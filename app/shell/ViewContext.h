#pragma once

namespace tessoral {

class StudioStore;
class TransportSignals;

// What every view of the window is built with: the one store and its transport's signals.
struct ViewContext {
    StudioStore* store = nullptr;
    TransportSignals* transport = nullptr;
};

}  // namespace tessoral
