#include "platform/LocalTime.h"

namespace platform {

std::tm LocalCalendar(std::time_t when) {
    std::tm local{};
    localtime_r(&when, &local);
    return local;
}

}  // namespace platform
