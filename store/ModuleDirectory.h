#pragma once

#include <string>

// The directory of the running executable, ending with a separator.
std::string ModuleDirectory();

// Where the program keeps its records: data.db beside the executable.
std::string DefaultStorePath();
