#include "transport/ManualScheduler.h"

#include <algorithm>

namespace tessoral {

void ManualScheduler::State::sweep() {
    entries.erase(std::remove_if(entries.begin(), entries.end(), [](const auto& e) { return !e->alive; }),
                  entries.end());
}

class ManualScheduler::Handle final : public RepeatingTimer {
public:
    Handle(std::weak_ptr<State> state, std::shared_ptr<Entry> entry) : state_(std::move(state)), entry_(std::move(entry)) {}
    ~Handle() override {
        entry_->alive = false;
        // While a round runs the entry stays in the list (the tick may be running right now).
        if (auto state = state_.lock(); state && state->depth == 0) state->sweep();
    }

private:
    std::weak_ptr<State> state_;
    std::shared_ptr<Entry> entry_;
};

std::unique_ptr<RepeatingTimer> ManualScheduler::repeat(double, std::function<void()> tick) {
    auto entry = std::make_shared<Entry>();
    entry->tick = std::move(tick);
    state_->entries.push_back(entry);
    return std::make_unique<Handle>(state_, entry);
}

void ManualScheduler::advance(int ticks) {
    const std::shared_ptr<State> state = state_;
    for (int t = 0; t < ticks; ++t) {
        struct Round {
            State& state;
            explicit Round(State& s) : state(s) { ++state.depth; }
            ~Round() {
                if (--state.depth == 0) state.sweep();
            }
        } round(*state);
        const std::size_t count = state->entries.size();
        for (std::size_t i = 0; i < count; ++i) {
            Entry* entry = state->entries[i].get();  // the list may grow meanwhile; the entry stays
            if (entry->alive) entry->tick();
        }
    }
}

int ManualScheduler::activeTimers() const {
    return static_cast<int>(std::count_if(state_->entries.begin(), state_->entries.end(),
                                          [](const auto& e) { return e->alive; }));
}

}  // namespace tessoral
