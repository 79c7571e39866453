#pragma once
// The collector's own clock, by which the stores write every time people compare: when a row
// was stored and became complete, when a run began and ended. Never the database server's
// now(): a shared store's collectors compare their own times with each other's. Tests set a
// clock of their own to walk through days in moments.

#include <ctime>
#include <string>

namespace store {

std::time_t StoreNow();
// StoreNow() as 采集时间 shows it: "YYYY-MM-DD HH:MM:SS", local time.
std::string StoreDateTime();
// StoreNow()'s local date: "YYYY-MM-DD".
std::string StoreDate();
// The clock StoreNow() reads from now on; nullptr: the system's.
void SetStoreClock(std::time_t (*now)());

}  // namespace store
