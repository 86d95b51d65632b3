#pragma once

#include "core/version.h"

namespace mr {

inline constexpr const char* kProgramName = "Moonrake";

}  // namespace mr
