#include "platform/ProgramFolders.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
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

namespace platform {

namespace {

// Creates `folder` and its missing parents (mode 0700 for new ones, as XDG asks).
bool MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

}  // namespace

std::string DataFolder() {
    const char* xdg = std::getenv("XDG_DATA_HOME");
    std::string base;
    if (xdg != nullptr && xdg[0] == '/') {  // a relative value is to be ignored
        base = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] == '\0') {
            const passwd* pw = getpwuid(getuid());
            home = pw != nullptr ? pw->pw_dir : "/tmp";
        }
        base = std::string(home) + "/.local/share";
    }
    while (base.size() > 1 && base.back() == '/') {
        base.pop_back();
    }
    return base + "/collector/";
}

bool FolderWritable(const std::string& folder) {
    return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string ChooseStorePath(const std::string& programFolder, const std::string& dataFolder,
                            const std::function<bool(const std::string&)>& writable) {
    if (writable(programFolder)) {
        return programFolder + "data.db";
    }
    std::string folder = dataFolder;
    while (folder.size() > 1 && folder.back() == '/') {
        folder.pop_back();
    }
    if (!MakeFolders(folder)) {
        return {};
    }
    return folder + "/data.db";
}

}  // namespace platform

std::string DefaultStorePath() {
    std::string path = platform::ChooseStorePath(ModuleDirectory(), platform::DataFolder(),
                                                 platform::FolderWritable);
    // Neither folder can be had: name the one beside the program, so the error says where.
    return path.empty() ? ModuleDirectory() + "data.db" : path;
}
