// SPDX-License-Identifier: MIT
// The ".QRL" profile file: serial values, slave id and script bindings as INI
// sections "SerialSettings", "Scripts" and "Script1".."ScriptN". Reading and
// the list of keys to write work on text alone (no Qt, no file system), so the
// fuzzer and the tests drive them directly.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/registertable.h"
#include "engine/slaveoptions.h"
#include "platform/inifile.h"
#include "profile/rowformatsformat.h"
#include "scripts/scriptbinding.h"
#include "scripts/scriptint.h"
#include "serial/serialvalues.h"

namespace quorlin {

inline constexpr const char *SerialSettingsSection = "SerialSettings";
inline constexpr const char *ScriptsSection = "Scripts";

// One "ScriptN" section as read, before it becomes a TScriptBinding.
struct TProfileBindingRecord {
    std::string Name;
    int RegType = 0;
    int RegAdr = 0;
    int Param1 = 0;
    int Param2 = 0;
    int Param3 = 0;
    std::optional<int> MBid; // the binding's slave; none: the first slave

    bool operator==(const TProfileBindingRecord &) const = default;
};

// The slaves besides the first one ("MBid") and the broadcast switch.
struct TProfileSlaves {
    std::vector<int> MoreIds; // ascending, each 1..255 once, never the first slave's
    bool Broadcast = false;
    // Section "Slave<N>" of each slave whose options are not all off, by id.
    std::map<int, TSlaveOptions> Options{};
    // Section "Formats<N>" of each slave with a formatted row, by id.
    std::map<int, TSlaveFormats> Formats{};
    // The folder of the profile read, where relative map files are found;
    // not a key of the file.
    std::string Folder{};
    bool operator==(const TProfileSlaves &) const = default;
};

struct TProfileContent {
    TSerialValues Serial;
    std::vector<TProfileBindingRecord> Bindings;
    TProfileSlaves Slaves;
};

// "2, 17,3": decimal ids separated by commas, blanks around them allowed.
// Anything that is no id 1..255, repeats and Except are left out; the rest
// comes back in ascending order.
std::vector<int> ParseSlaveIds(const std::string &Text, int Except);
// "2,3,17".
std::string FormatSlaveIds(const std::vector<int> &Ids);

// "Mode" of [SerialSettings]: "ASCII" in any case is 1, anything else
// (absent, "RTU", a typo) is RTU's 0, so an unknown value never stops a line.
int SerialModeFromText(const std::string &Text);
std::string SerialModeText(int Mode);
// "Framing" of [SerialSettings]: "Strict" in any case is 1, anything else
// (absent, "Length", a typo) is 0, framing by length as always.
int SerialFramingFromText(const std::string &Text);
std::string SerialFramingText(int Framing);

// The document a file's bytes hold when they are a profile: no NUL byte, and
// a "SerialSettings" or a "Scripts" section (any letter case). Nothing for
// anything else (an image, a binary, a text without either section), which
// must not become the current profile: the next save would write keys into it.
std::optional<TIniDocument> ParseProfileText(std::string_view Text);

// The adapter keys of [SerialSettings] into Values (profile/adapterformat.cpp);
// absent or unreadable keys leave what a profile without them means.
void ReadAdapterKeys(const TIniDocument &Document, TSerialValues &Values);
// The adapter keys a save writes: only those that say more than their
// absence, or that Existing already holds.
std::vector<TIniEntry> AdapterEntries(const TSerialValues &Values, const TIniDocument &Existing);

// "Slave" + N.
std::string SlaveSectionName(int Id);
// The options of section "Slave<Id>"; all off when it is missing. Values out
// of range are held to the nearest one that is not (Registers 1..65536,
// AddressOffset -1..1).
TSlaveOptions ReadSlaveOptions(const TIniDocument &Document, int Id);

// "Script" + N, N in decimal without leading zeros.
std::string ScriptSectionName(std::size_t N);

// Missing sections, keys and values that are no number give the defaults.
// "Count" = N asks for the sections "Script1" .. "ScriptN". Up to the number
// of sections in the file, a missing one gives a binding of default values;
// above that only the "ScriptN" sections present are read (in the order of
// their numbers), so a damaged "Count=2000000000" or a lone "[Script99999999]"
// cannot make the loader build millions of empty bindings. Files that the
// program saved always hold all N sections and load exactly.
TProfileContent ReadProfile(const TIniDocument &Document);

// The bindings the records describe, with their script entries looked up.
TBindingList MakeBindings(const TScriptList &ScriptList,
                          const std::vector<TProfileBindingRecord> &Records);

// Every key of a save, in the order in which a save writes them. "Device"
// follows "Handshaking" when Serial names a device, or when DeviceKey says
// the file already has the key (it is then emptied, so a COM choice wins
// again); otherwise a profile is written as it always was.
std::vector<TIniEntry> ProfileEntries(const TSerialValues &Serial,
                                      const TBindingList &Bindings, bool DeviceKey = false);
// The same for a line of several slaves. "MoreIds", "Broadcast" and a
// binding's "MBid" are written only when they say more than their absence
// would, or when Existing (the file about to be updated) already holds them,
// so a one-slave profile keeps exactly the keys it had and a stale key is
// never left behind; "Device" likewise.
std::vector<TIniEntry> ProfileEntries(const TSerialValues &Serial, const TBindingList &Bindings,
                                      const TProfileSlaves &Slaves,
                                      const TIniDocument &Existing);

} // namespace quorlin
