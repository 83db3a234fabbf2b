// SPDX-License-Identifier: MIT
// What to tell a user whose serial port is refused for want of permission.
// On Debian the serial devices belong to the group dialout, and a user gains
// access by joining it; the new membership counts from the next login.
#pragma once

#include <string>

namespace quorlin
{

// Whether an open that failed with this errno was refused for permission.
bool IsPermissionError(int Code);

// The group that owns the device node at Path: the one to join. "dialout"
// when the node has no group of its own (root) or cannot be looked at.
std::string DeviceGroup(const std::string &Path);

// "join the group dialout (sudo adduser $USER dialout), then log out and log
// in again"; Group empty or "root" counts as "dialout".
std::string PermissionAdvice(const std::string &Group);

} // namespace quorlin
