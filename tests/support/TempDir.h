#pragma once

#include <filesystem>
#include <string>

// A fresh directory in the temporary folder (its name has Chinese characters), removed with
// everything in it when the object goes.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string ReadFileBytes(const std::string& path);

// A UTF-8 path for std::filesystem, which reads a plain string in another code page on Windows.
inline std::filesystem::path FsPath(const std::string& utf8) {
    return std::filesystem::u8path(utf8);
}
