// What the clock and regional formats ask of the system (datetime_posix.cpp,
// datetime_win.cpp). Internal to the platform layer; datetime.h is the public side.
#pragma once

#include <ctime>

#include "platform/datetime.h"

namespace tav::backend {

// The regional settings as the system holds them; the defaults when it names none.
Regional LoadRegional();
// The calendar parts of a moment in the system's time zone.
std::tm LocalParts(std::time_t t);

}  // namespace tav::backend
