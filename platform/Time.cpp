#include "platform/Time.h"

#include <cstdio>

namespace platform {

Result<CalendarTime> ToLocalCalendar(time_t t) {
    struct tm local {};
    if (::localtime_r(&t, &local) == nullptr) {
        return Failure::Now("localtime_r");
    }
    return CalendarTime{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                        local.tm_hour,        local.tm_min,     local.tm_sec};
}

std::string LocalDateMMDDYY(time_t t) {
    const CalendarTime c = ToLocalCalendar(t).value_or(CalendarTime{});
    const int yy = ((c.year % 100) + 100) % 100;
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d", c.month % 100, c.day % 100, yy);
    return text;
}

}  // namespace platform
