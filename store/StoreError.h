#pragma once

#include <stdexcept>
#include <string>

// A failure of the record store; what() carries SQLite's own message (UTF-8).
class StoreError : public std::runtime_error {
  public:
    explicit StoreError(const std::string& message) : std::runtime_error(message) {}
};
