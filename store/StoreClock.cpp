#include "store/StoreClock.h"

#include <atomic>

#include "platform/LocalTime.h"

namespace store {

namespace {

std::atomic<std::time_t (*)()> clock{nullptr};

}  // namespace

std::time_t StoreNow() {
    std::time_t (*now)() = clock.load();
    return now != nullptr ? now() : std::time(nullptr);
}

std::string StoreDateTime() {
    return platform::LocalDateTime(StoreNow());
}

std::string StoreDate() {
    return platform::LocalDate(StoreNow());
}

void SetStoreClock(std::time_t (*now)()) {
    clock.store(now);
}

}  // namespace store
