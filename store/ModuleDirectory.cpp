#include "store/ModuleDirectory.h"

#include <unistd.h>

#include <vector>

std::string ModuleDirectory() {
    std::vector<char> buf(4096);
    ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) {
        return "./";
    }
    std::string path(buf.data(), static_cast<size_t>(n));
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

std::string DefaultStorePath() {
    return ModuleDirectory() + "data.db";
}
