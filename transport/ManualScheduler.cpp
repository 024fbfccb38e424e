#include "transport/ManualScheduler.h"

#include <algorithm>
#include <cmath>

namespace tessoral {

namespace {

// A repeating timer never falls due more often than this in virtual time, so a zero, negative or
// NaN interval cannot make advanceBy() loop for ever.
constexpr double kMinimumInterval = 0.001;
// Due times this close to the target count as reached, so that steps like 1/30 s summed by the
// caller meet timers of the same period despite rounding.
constexpr double kTolerance = 1e-9;

double sanitisedDelay(double seconds) { return std::isfinite(seconds) && seconds > 0.0 ? seconds : 0.0; }

// Keeps the state's round counter up while timers fire; the entries are swept when the outermost
// round ends (a timer may be destroyed from inside its own tick).
struct Round {
    explicit Round(int& depth, std::function<void()> sweep) : depth_(depth), sweep_(std::move(sweep)) { ++depth_; }
    ~Round() {
        if (--depth_ == 0) sweep_();
    }
    int& depth_;
    std::function<void()> sweep_;
};

}  // namespace

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

class ManualScheduler::ShotHandle final : public SingleShot {
public:
    ShotHandle(std::weak_ptr<State> state, std::shared_ptr<Entry> entry) : state_(std::move(state)), entry_(std::move(entry)) {}
    ~ShotHandle() override {
        entry_->alive = false;
        if (auto state = state_.lock(); state && state->depth == 0) state->sweep();
    }

private:
    std::weak_ptr<State> state_;
    std::shared_ptr<Entry> entry_;
};

std::shared_ptr<ManualScheduler::Entry> ManualScheduler::add(double delay, double interval, bool repeating,
                                                             std::function<void()> fn) {
    auto entry = std::make_shared<Entry>();
    entry->tick = std::move(fn);
    entry->interval = interval;
    entry->origin = state_->now;
    entry->due = state_->now + delay;
    entry->order = state_->nextOrder++;
    entry->repeating = repeating;
    state_->entries.push_back(entry);
    return entry;
}

std::unique_ptr<RepeatingTimer> ManualScheduler::repeat(double intervalSeconds, std::function<void()> tick) {
    const double interval = std::max(sanitisedDelay(intervalSeconds), kMinimumInterval);
    return std::make_unique<Handle>(state_, add(interval, interval, true, std::move(tick)));
}

std::unique_ptr<SingleShot> ManualScheduler::singleShot(double seconds, std::function<void()> fire) {
    return std::make_unique<ShotHandle>(state_, add(sanitisedDelay(seconds), 0.0, false, std::move(fire)));
}

void ManualScheduler::post(std::function<void()> call) {
    std::lock_guard lock(state_->postMutex);
    state_->posted.push_back(std::move(call));
}

void ManualScheduler::advance(int ticks) {
    const std::shared_ptr<State> state = state_;
    for (int t = 0; t < ticks; ++t) {
        struct TickRound {
            State& state;
            explicit TickRound(State& s) : state(s) { ++state.depth; }
            ~TickRound() {
                if (--state.depth == 0) state.sweep();
            }
        } round(*state);
        const std::size_t count = state->entries.size();
        for (std::size_t i = 0; i < count; ++i) {
            Entry* entry = state->entries[i].get();  // the list may grow meanwhile; the entry stays
            if (entry->alive && entry->repeating) entry->tick();
        }
    }
}

void ManualScheduler::advanceBy(double seconds) {
    const std::shared_ptr<State> state = state_;
    const double target = state->now + sanitisedDelay(seconds);
    {
        Round round(state->depth, [state] { state->sweep(); });
        for (;;) {
            // The earliest live entry due by the target; creation order breaks ties.
            std::shared_ptr<Entry> next;
            for (const auto& e : state->entries) {
                if (!e->alive || e->due > target + kTolerance) continue;
                if (!next || e->due < next->due || (e->due == next->due && e->order < next->order)) next = e;
            }
            if (!next) break;
            state->now = std::max(state->now, next->due);
            if (next->repeating) {
                // From the origin, not by summing intervals, so rounding does not drift.
                next->fired += 1;
                next->due = next->origin + static_cast<double>(next->fired + 1) * next->interval;
            } else {
                next->alive = false;  // fired: the handle may still be destroyed later, harmlessly
            }
            next->tick();
        }
        state->now = target;
    }
    runPosted();
}

int ManualScheduler::runPosted() {
    int ran = 0;
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard lock(state_->postMutex);
            if (state_->posted.empty()) break;
            call = std::move(state_->posted.front());
            state_->posted.pop_front();
        }
        const std::shared_ptr<State> keep = state_;
        call();
        ++ran;
    }
    return ran;
}

int ManualScheduler::activeTimers() const {
    return static_cast<int>(std::count_if(state_->entries.begin(), state_->entries.end(),
                                          [](const auto& e) { return e->alive && e->repeating; }));
}

int ManualScheduler::pendingSingleShots() const {
    return static_cast<int>(std::count_if(state_->entries.begin(), state_->entries.end(),
                                          [](const auto& e) { return e->alive && !e->repeating; }));
}

int ManualScheduler::pendingPosts() const {
    std::lock_guard lock(state_->postMutex);
    return static_cast<int>(state_->posted.size());
}

}  // namespace tessoral
