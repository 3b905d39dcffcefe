#pragma once

namespace tandril {

// Registers the compiled resources (":/tandril.png"). Call once, after the
// application object exists and before any window is made.
void InitResources();

}  // namespace tandril
