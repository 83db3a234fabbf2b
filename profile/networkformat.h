// SPDX-License-Identifier: MIT
// The "Network" section of a profile: the listeners and the network-only
// switch. A profile without it has no listener and uses its serial port; a
// save writes the section only when there is something in it to keep (or
// the file has the section already), so every other profile is saved
// exactly as before.
//
//   [Network]
//   Listeners=2
//   NoSerial=0
//   Kind1=Modbus TCP      Address1=127.0.0.1  Port1=1502  MaxClients1=64
//   DefaultId1=0          Enabled1=1          (one key a line in the file)
#pragma once

#include <optional>
#include <vector>

#include "engine/listenerconfig.h"
#include "platform/inifile.h"

namespace quorlin
{

inline constexpr const char *NetworkSection = "Network";

// Nothing without the section; listeners with an unknown kind or an address
// that is no IP literal are left out, values brought into range.
std::optional<TNetworkSettings> ReadNetwork(const TIniDocument &Document);
// Every key of the section, in a fixed order.
std::vector<TIniEntry> NetworkEntries(const TNetworkSettings &Network);
bool NetworkToBeSaved(const TNetworkSettings &Network, const TIniDocument &Existing);

} // namespace quorlin
