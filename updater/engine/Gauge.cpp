// Gauge.cpp: clamping and percentages of a gauge.
#include "updater/engine/Gauge.h"

#include <algorithm>
#include <string>

namespace velmoran {

EGaugeError::EGaugeError(std::int64_t maximum)
    : Exception("Gauge maximum out of range (" + std::to_string(maximum) + ")") {}

void TGaugeState::SetMax(std::int64_t maximum) {
    if (maximum < 0) {
        throw EGaugeError(maximum);
    }
    max_ = maximum;
    position_ = std::clamp<std::int64_t>(position_, 0, max_);
}

void TGaugeState::SetPosition(std::int64_t position) {
    position_ = std::clamp<std::int64_t>(position, 0, max_);
}

int TGaugeState::Percent() const noexcept {
    if (max_ == 0) {
        return 0;
    }
    // Through long double: positions of many GiB times 100 would overflow 64 bits otherwise.
    return static_cast<int>(static_cast<long double>(position_) * 100 / max_);
}

} // namespace velmoran
