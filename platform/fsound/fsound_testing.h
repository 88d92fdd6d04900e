// Test hooks of the sound layer: not for the show.
#pragma once

namespace fsound::testing {

// Makes FSOUND_GetVersion report `version` (3.33 by default), so that a caller's
// version check can be exercised.
void setReportedVersion(float version);

}  // namespace fsound::testing
