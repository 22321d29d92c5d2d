#include "platform/Time.h"

#include <cstdio>

namespace platform {

bool ToLocalCalendar(time_t t, CalendarTime* out) {
    struct tm local {};
    if (::localtime_r(&t, &local) == nullptr) {
        return false;
    }
    out->year = local.tm_year + 1900;
    out->month = local.tm_mon + 1;
    out->day = local.tm_mday;
    out->hour = local.tm_hour;
    out->minute = local.tm_min;
    out->second = local.tm_sec;
    return true;
}

std::string LocalDateMMDDYY(time_t t) {
    CalendarTime c;
    if (!ToLocalCalendar(t, &c)) {
        c = CalendarTime{};
    }
    const int yy = ((c.year % 100) + 100) % 100;
    char text[16];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d", c.month % 100, c.day % 100, yy);
    return text;
}

}  // namespace platform
