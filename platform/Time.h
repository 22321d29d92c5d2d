// Local calendar time, formed without the process locale.
#pragma once

#include <ctime>
#include <string>

#include "platform/Outcome.h"

namespace platform {

struct CalendarTime {
    int year = 1970;  // e.g. 2026
    int month = 1;    // 1..12
    int day = 1;      // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

// The local calendar time of a Unix time (the TZ rules in force); EOVERFLOW when it can't be represented.
Result<CalendarTime> ToLocalCalendar(time_t t);

// The local date of `t` as MM/DD/YY (two digits each, year modulo 100), e.g. "12/05/26" for 5 December 2026.
// Formed by hand so that a German or British locale set later by the window does not change it.
std::string LocalDateMMDDYY(time_t t);

}  // namespace platform
