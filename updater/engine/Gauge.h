// Gauge.h: the state of a progress gauge, shared by the window's gauges and the terminal's bars.
#pragma once

#include "platform/Errors.h"

#include <cstdint>

namespace velmoran {

// A maximum below 0: "Gauge maximum out of range (%d)". Raised on the host's thread, it
// comes back to the update run as the error of its notification.
class EGaugeError : public platform::Exception {
public:
    explicit EGaugeError(std::int64_t maximum);
};

// Minimum 0, maximum 100 until set; positions outside clamp to the nearest end; a gauge
// whose maximum is 0 shows 0 %.
class TGaugeState {
public:
    void SetMax(std::int64_t maximum);
    void SetPosition(std::int64_t position);
    std::int64_t Max() const noexcept { return max_; }
    std::int64_t Position() const noexcept { return position_; }
    int Percent() const noexcept;

private:
    std::int64_t max_ = 100;
    std::int64_t position_ = 0;
};

} // namespace velmoran
