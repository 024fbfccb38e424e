#include "transport/NullInputScript.h"

#include <algorithm>

namespace tessoral {

NullInputScript::NullInputScript(std::vector<std::vector<float>> channels) : channels_(std::move(channels)) {}

double NullInputScript::fill(std::vector<std::vector<float>>& inputs, std::int64_t frames, double now) noexcept {
    const std::int64_t at = position_.load();
    for (std::size_t c = 0; c < inputs.size(); ++c) {
        auto& out = inputs[c];
        const std::int64_t n = std::min<std::int64_t>(frames, static_cast<std::int64_t>(out.size()));
        const std::vector<float>* source =
            channels_.empty() ? nullptr : &channels_[std::min(c, channels_.size() - 1)];
        for (std::int64_t i = 0; i < n; ++i) {
            const std::int64_t k = at + i;
            out[static_cast<std::size_t>(i)] =
                source && k < static_cast<std::int64_t>(source->size()) ? (*source)[static_cast<std::size_t>(k)] : 0.0f;
        }
    }
    position_.store(at + std::max<std::int64_t>(frames, 0));
    return noTime_ ? 0.0 : now / speed_ + offset_;
}

}  // namespace tessoral
