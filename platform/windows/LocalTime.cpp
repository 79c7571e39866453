#include "platform/LocalTime.h"

namespace platform {

std::tm LocalCalendar(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

}  // namespace platform
