// SPDX-License-Identifier: MIT
#include "engine/listenerconfig.h"

#include <algorithm>
#include <cctype>

namespace quorlin
{

namespace
{

bool parsePort(std::string_view Text, int &Port)
{
    if (Text.empty() || Text.size() > 5)
        return false;
    int v = 0;
    for (char c : Text) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > 65535)
        return false;
    Port = v;
    return true;
}

bool plausibleHost(std::string_view Host, bool Bracketed)
{
    if (Host.empty())
        return false;
    for (char c : Host) {
        const bool ok =
            std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || (Bracketed && c == ':');
        if (!ok)
            return false;
    }
    return true;
}

} // namespace

bool ParseListenSpec(std::string_view Text, std::string &Address, int &Port)
{
    std::string host = DefaultListenAddress;
    std::string_view port = Text;
    if (!Text.empty() && Text.front() == '[') {
        const size_t close = Text.find(']');
        if (close == std::string_view::npos || close + 1 >= Text.size() || Text[close + 1] != ':')
            return false;
        const std::string_view h = Text.substr(1, close - 1);
        if (!plausibleHost(h, true))
            return false;
        host = std::string(h);
        port = Text.substr(close + 2);
    } else if (const size_t colon = Text.rfind(':'); colon != std::string_view::npos) {
        const std::string_view h = Text.substr(0, colon);
        if (!plausibleHost(h, false))
            return false; // an IPv6 address needs its brackets
        host = std::string(h);
        port = Text.substr(colon + 1);
    }
    int p;
    if (!parsePort(port, p))
        return false;
    Address = host;
    Port = p;
    return true;
}

std::string ListenSpecText(const std::string &Address, int Port)
{
    const bool v6 = Address.find(':') != std::string::npos;
    return (v6 ? "[" + Address + "]" : Address) + ":" + std::to_string(Port);
}

const char *KindName(TStreamKind Kind)
{
    return Kind == TStreamKind::ModbusTcp ? "Modbus TCP" : "RTU over TCP";
}

bool KindFromName(std::string_view Name, TStreamKind &Kind)
{
    std::string n(Name);
    std::transform(n.begin(), n.end(), n.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    if (n == "modbus tcp" || n == "tcp") {
        Kind = TStreamKind::ModbusTcp;
        return true;
    }
    if (n == "rtu over tcp" || n == "rtu") {
        Kind = TStreamKind::RtuOverTcp;
        return true;
    }
    return false;
}

TListenerConfig NormalisedListener(TListenerConfig Config)
{
    Config.MaxClients = std::clamp(Config.MaxClients, 1, MaxClientsLimit);
    Config.DefaultId = std::clamp(Config.DefaultId, 0, 255);
    Config.Port = std::clamp(Config.Port, 0, 65535);
    if (Config.Address.empty())
        Config.Address = DefaultListenAddress;
    return Config;
}

} // namespace quorlin
