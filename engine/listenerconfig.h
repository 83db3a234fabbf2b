// SPDX-License-Identifier: MIT
// One network listener as the user sets it up, and the "[ADDRESS:]PORT" text
// of the command line.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "engine/streamframing.h"

namespace quorlin
{

inline constexpr int DefaultListenPort = 1502; // 502 needs privileges
inline constexpr int DefaultMaxClients = 64;
inline constexpr int MaxClientsLimit = 4096;
inline constexpr const char *DefaultListenAddress = "127.0.0.1"; // this machine only

struct TListenerConfig {
    TStreamKind Kind = TStreamKind::ModbusTcp;
    std::string Address = DefaultListenAddress;
    int Port = DefaultListenPort;
    int MaxClients = DefaultMaxClients; // 1..4096
    int DefaultId = 0;                  // Modbus TCP units 0 and 255; 0 = the lowest id
    bool Enabled = true;

    bool operator==(const TListenerConfig &) const = default;
};

// "1502", "0.0.0.0:1502", "[::1]:1502", "[::]:502": the address (127.0.0.1
// when none is given) and the port 0..65535. False, leaving both alone, for
// anything else.
bool ParseListenSpec(std::string_view Text, std::string &Address, int &Port);
// The text ParseListenSpec reads back: "127.0.0.1:1502", "[::1]:1502".
std::string ListenSpecText(const std::string &Address, int Port);
// "Modbus TCP" / "RTU over TCP"; KindFromName reads both (and "tcp", "rtu").
const char *KindName(TStreamKind Kind);
bool KindFromName(std::string_view Name, TStreamKind &Kind);
// Values brought into their ranges (max clients 1..4096, default id 0..255).
TListenerConfig NormalisedListener(TListenerConfig Config);

} // namespace quorlin

namespace quorlin
{

// The network side of a profile: its listeners, and whether the serial port
// is left alone (the network alone serves the slaves).
struct TNetworkSettings {
    std::vector<TListenerConfig> Listeners;
    bool NoSerial = false;

    bool operator==(const TNetworkSettings &) const = default;
};

inline constexpr int MaxListeners = 64;

} // namespace quorlin
