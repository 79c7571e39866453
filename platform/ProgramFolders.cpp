#include "platform/ProgramFolders.h"

namespace platform {

std::string ChooseStorePath(const std::string& programFolder, const std::string& dataFolder,
                            const std::function<bool(const std::string&)>& writable) {
    if (writable(programFolder)) {
        return programFolder + "data.db";
    }
    // The data folder's own separator: a backslash on Windows.
    const char separator = !dataFolder.empty() && dataFolder.back() == '\\' ? '\\' : '/';
    std::string folder = dataFolder;
    while (folder.size() > 1 && (folder.back() == '/' || folder.back() == '\\')) {
        folder.pop_back();
    }
    if (!MakeFolders(folder)) {
        return {};
    }
    return folder + separator + "data.db";
}

}  // namespace platform

std::string DefaultStorePath() {
    std::string path = platform::ChooseStorePath(ModuleDirectory(), platform::DataFolder(),
                                                 platform::FolderWritable);
    // Neither folder can be had: name the one beside the program, so the error says where.
    return path.empty() ? ModuleDirectory() + "data.db" : path;
}
