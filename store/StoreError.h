#pragma once

#include <stdexcept>
#include <string>

// A failure of the record store; what() carries SQLite's own message (UTF-8).
class StoreError : public std::runtime_error {
  public:
    explicit StoreError(const std::string& message) : std::runtime_error(message) {}
};

// The store call was given up because the caller was told to stop (Ctrl+C, a stop of the run):
// what it was doing may or may not have been committed.
class StoreInterrupted : public StoreError {
  public:
    StoreInterrupted() : StoreError("操作已停止") {}
};
