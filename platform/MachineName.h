#pragma once
// The name of this machine, as the record of runs tells the machines that share a store apart.

#include <string>

namespace platform {

std::string MachineName();

}  // namespace platform
