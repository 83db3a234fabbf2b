// SPDX-License-Identifier: MIT
#include "profile/networkformat.h"

#include <algorithm>
#include <string>

namespace quorlin
{

namespace
{

std::string key(const char *Name, size_t Index)
{
    return Name + std::to_string(Index + 1);
}

} // namespace

std::optional<TNetworkSettings> ReadNetwork(const TIniDocument &Document)
{
    if (!Document.SectionExists(NetworkSection))
        return std::nullopt;
    TNetworkSettings n;
    n.NoSerial = Document.ReadInteger(NetworkSection, "NoSerial", 0) != 0;
    const int count =
        std::clamp(Document.ReadInteger(NetworkSection, "Listeners", 0), 0, MaxListeners);
    for (size_t i = 0; i < size_t(count); ++i) {
        TListenerConfig c;
        if (!KindFromName(Document.ReadString(NetworkSection, key("Kind", i), ""), c.Kind))
            continue;
        // The address goes through the command line's parser: only IP literals pass.
        const std::string address =
            Document.ReadString(NetworkSection, key("Address", i), DefaultListenAddress);
        const int port = Document.ReadInteger(NetworkSection, key("Port", i), DefaultListenPort);
        if (!ParseListenSpec(ListenSpecText(address, std::clamp(port, 0, 65535)), c.Address,
                             c.Port))
            continue;
        c.MaxClients =
            Document.ReadInteger(NetworkSection, key("MaxClients", i), DefaultMaxClients);
        c.DefaultId = Document.ReadInteger(NetworkSection, key("DefaultId", i), 0);
        c.Enabled = Document.ReadInteger(NetworkSection, key("Enabled", i), 1) != 0;
        n.Listeners.push_back(NormalisedListener(c));
    }
    return n;
}

std::vector<TIniEntry> NetworkEntries(const TNetworkSettings &Network)
{
    std::vector<TIniEntry> e;
    e.push_back({NetworkSection, "Listeners", std::to_string(Network.Listeners.size())});
    e.push_back({NetworkSection, "NoSerial", Network.NoSerial ? "1" : "0"});
    for (size_t i = 0; i < Network.Listeners.size(); ++i) {
        const TListenerConfig &c = Network.Listeners[i];
        e.push_back({NetworkSection, key("Kind", i), KindName(c.Kind)});
        e.push_back({NetworkSection, key("Address", i), c.Address});
        e.push_back({NetworkSection, key("Port", i), std::to_string(c.Port)});
        e.push_back({NetworkSection, key("MaxClients", i), std::to_string(c.MaxClients)});
        e.push_back({NetworkSection, key("DefaultId", i), std::to_string(c.DefaultId)});
        e.push_back({NetworkSection, key("Enabled", i), c.Enabled ? "1" : "0"});
    }
    return e;
}

bool NetworkToBeSaved(const TNetworkSettings &Network, const TIniDocument &Existing)
{
    return Network != TNetworkSettings{} || Existing.SectionExists(NetworkSection);
}

} // namespace quorlin
