#pragma once

namespace mr {

inline constexpr const char* kProgramName = "Moonrake";
inline constexpr const char* kProgramVersion = "1.05 Beta";

}  // namespace mr
