#include "TempDir.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/FileSystem.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
    // The name has Chinese characters: every path a test uses shows that such paths work.
    static std::atomic<unsigned> serial{0};
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = "collector-测试-" + std::to_string(platform::ProcessId()) + "-" +
                                 std::to_string((now + ++serial) % 1000000007);
        path_ = platform::TempFolder() + "/" + name;
        std::error_code ec;
        if (fs::create_directory(fs::u8path(path_), ec)) {
            return;
        }
    }
    throw std::runtime_error("cannot make a temporary folder in " + platform::TempFolder());
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::permissions(fs::u8path(path_), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(fs::u8path(path_), ec);
}

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(fs::u8path(path), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
