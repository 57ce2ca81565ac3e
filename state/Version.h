#pragma once

namespace tavrin {

// The program's version: sent with the update check and shown on the connection screen.
inline constexpr int kVersionCode = 7;
inline constexpr char kVersionName[] = "1.0.6";

} // namespace tavrin
