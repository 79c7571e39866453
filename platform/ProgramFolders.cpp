#include "platform/ProgramFolders.h"

#include "platform/FileSystem.h"

namespace platform {

StoreLocation ChooseStorePath(const std::string& programFolder, const std::string& dataFolder,
                              const std::function<bool(const std::string&)>& exists,
                              const std::function<bool(const std::string&)>& writable) {
    StoreLocation location;
    const std::string beside = programFolder + "data.db";
    if (exists(beside)) {
        if (writable(beside)) {
            location.path = beside;
            return location;
        }
        location.unusedBeside = beside;
    }
    // The data folder's own separator: a backslash on Windows.
    const char separator = !dataFolder.empty() && dataFolder.back() == '\\' ? '\\' : '/';
    std::string folder = dataFolder;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
    }
    if (MakeFolders(folder)) {
        location.path = folder + separator + "data.db";
    }
    return location;
}

std::string UnusedStoreNotice(const StoreLocation& location) {
    if (location.unusedBeside.empty()) {
        return {};
    }
    return "在程序目录中发现另一个数据库（" + location.unusedBeside + "），当前使用的是 " +
           location.path;
}

}  // namespace platform

platform::StoreLocation DefaultStoreLocation() {
    platform::StoreLocation location = platform::ChooseStorePath(
        ModuleDirectory(), platform::DataFolder(),
        [](const std::string& path) {
            return platform::KindOf(path) == platform::FileKind::Regular;
        },
        platform::FileWritable);
    if (location.path.empty()) {
        // No folder can be had: name the data folder's store, so the error says where.
        location.path = platform::DataFolder() + "data.db";
    }
    return location;
}
