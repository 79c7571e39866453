#include "platform/LocalTime.h"

namespace platform {

namespace {

std::string Format(std::time_t when, const char* format) {
    const std::tm local = LocalCalendar(when);
    char text[32];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

}  // namespace

std::string LocalDate(std::time_t when) {
    return Format(when, "%Y-%m-%d");
}

std::string LocalDateTime(std::time_t when) {
    return Format(when, "%Y-%m-%d %H:%M:%S");
}

}  // namespace platform
