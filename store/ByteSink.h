#pragma once
// Where an export's bytes go. A sink either takes every byte or throws ExportError; Finish()
// makes the bytes lasting (a file is renamed into place only then).

#include <cstdio>
#include <string>
#include <string_view>

namespace store {

class IByteSink {
  public:
    virtual ~IByteSink() = default;
    virtual void Write(std::string_view bytes) = 0;
    virtual void Finish() = 0;
};

// A file written beside its target under a temporary name and renamed into place by Finish():
// a failure, or a sink dropped unfinished, never leaves half a file and never destroys the file
// it was to replace. A target that exists and is no regular file (a device, a pipe) is
// written in place: it cannot be replaced, and must not be.
class FileSink : public IByteSink {
  public:
    explicit FileSink(std::string target);
    ~FileSink() override;
    FileSink(const FileSink&) = delete;
    FileSink& operator=(const FileSink&) = delete;
    void Write(std::string_view bytes) override;
    void Finish() override;

  private:
    std::string target_;
    std::string path_;  // the temporary file, or the target itself when written in place
    FILE* file_ = nullptr;
    char buffer_[1 << 16];
    bool direct_ = false;
    bool finished_ = false;
};

// An open stream, standard output say; Finish() flushes it.
class StreamSink : public IByteSink {
  public:
    StreamSink(FILE* stream, std::string name) : stream_(stream), name_(std::move(name)) {}
    void Write(std::string_view bytes) override;
    void Finish() override;

  private:
    FILE* stream_;
    std::string name_;
};

}  // namespace store
