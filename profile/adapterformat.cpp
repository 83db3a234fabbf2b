// SPDX-License-Identifier: MIT
// The serial adapter's keys of [SerialSettings]: RS-485 mode and its
// options, and the echo filter. A profile that turns none of them on is
// written exactly as before they existed.
#include <algorithm>

#include "platform/serialadapter.h"
#include "profile/profileformat.h"

namespace quorlin
{

void ReadAdapterKeys(const TIniDocument &Document, TSerialValues &V)
{
    const char *s = SerialSettingsSection;
    V.Rs485 = Document.ReadInteger(s, "RS485", 0) != 0;
    V.Rs485RtsOnSend = Document.ReadInteger(s, "RS485RtsOnSend", 1) != 0;
    V.Rs485RtsAfterSend = Document.ReadInteger(s, "RS485RtsAfterSend", 0) != 0;
    V.Rs485DelayBefore =
        std::clamp(Document.ReadInteger(s, "RS485DelayBefore", 0), 0, MaxRs485DelayMs);
    V.Rs485DelayAfter =
        std::clamp(Document.ReadInteger(s, "RS485DelayAfter", 0), 0, MaxRs485DelayMs);
    V.IgnoreEcho = Document.ReadInteger(s, "IgnoreEcho", 0) != 0;
}

std::vector<TIniEntry> AdapterEntries(const TSerialValues &V, const TIniDocument &Existing)
{
    std::vector<TIniEntry> e;
    auto put = [&](const char *Key, bool Says, int Value) {
        if (Says || Existing.Value(SerialSettingsSection, Key).has_value())
            e.push_back({SerialSettingsSection, Key, std::to_string(Value)});
    };
    const TSerialValues absent;
    put("RS485", V.Rs485 != absent.Rs485, V.Rs485 ? 1 : 0);
    put("RS485RtsOnSend", V.Rs485RtsOnSend != absent.Rs485RtsOnSend, V.Rs485RtsOnSend ? 1 : 0);
    put("RS485RtsAfterSend", V.Rs485RtsAfterSend != absent.Rs485RtsAfterSend,
        V.Rs485RtsAfterSend ? 1 : 0);
    put("RS485DelayBefore", V.Rs485DelayBefore != absent.Rs485DelayBefore, V.Rs485DelayBefore);
    put("RS485DelayAfter", V.Rs485DelayAfter != absent.Rs485DelayAfter, V.Rs485DelayAfter);
    put("IgnoreEcho", V.IgnoreEcho != absent.IgnoreEcho, V.IgnoreEcho ? 1 : 0);
    return e;
}

} // namespace quorlin
