#pragma once
// How the record store fails: one error type for both databases, and the one a stopped call
// gives.

#include <stdexcept>
#include <string>

namespace store {

// A failure of the record store; what() carries the database's own message (SQLite's or
// PostgreSQL's, UTF-8), with what was being done.
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

}  // namespace store
