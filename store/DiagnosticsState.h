#pragma once

namespace tessoral {

// State of the diagnostics panel and of the processing sheets: the detector, its parameters,
// the findings and the open sheet. A plain value created with its defaults by the store.
struct DiagnosticsState {
};

}  // namespace tessoral
