#pragma once
// The local calendar, as the stores write the times of rows ("YYYY-MM-DD HH:MM:SS").

#include <ctime>
#include <string>

namespace platform {

// `when` in the local calendar (each system has its own thread-safe call for it).
std::tm LocalCalendar(std::time_t when);
// The local date of `when`: "YYYY-MM-DD".
std::string LocalDate(std::time_t when);
// The local date and time of `when`: "YYYY-MM-DD HH:MM:SS".
std::string LocalDateTime(std::time_t when);

}  // namespace platform
