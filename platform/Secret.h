#pragma once
// A secret the window keeps for its user (the proxy's password), as it is written into the
// user's settings file: on Windows protected by the system for this user on this machine
// (CryptProtectData), elsewhere as it is, in a file only its user can read.

#include <optional>
#include <string>

namespace platform {

// The secret as it is stored: one line of text.
std::string ProtectSecret(const std::string& secret);
// The secret back; nothing when it cannot be read here (protected on another machine or for
// another user, or damaged).
std::optional<std::string> UnprotectSecret(const std::string& stored);

}  // namespace platform
