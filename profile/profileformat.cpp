// SPDX-License-Identifier: MIT
#include "profile/profileformat.h"

#include <algorithm>
#include <array>

namespace quorlin {

namespace {

// The N of a section named exactly "Script" + N (any letter case, no leading
// zero), or 0 for any other name.
std::size_t scriptSectionNumber(const std::string &Name)
{
    static const std::string prefix = "script";
    if (Name.size() <= prefix.size() || Name.size() > prefix.size() + 18)
        return 0;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = Name[i];
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        if (c != prefix[i])
            return 0;
    }
    if (Name[prefix.size()] == '0')
        return 0;
    std::size_t n = 0;
    for (std::size_t i = prefix.size(); i < Name.size(); ++i) {
        if (Name[i] < '0' || Name[i] > '9')
            return 0;
        n = n * 10 + std::size_t(Name[i] - '0');
    }
    return n;
}

} // namespace

std::optional<TIniDocument> ParseProfileText(std::string_view Text)
{
    if (Text.find('\0') != std::string_view::npos)
        return std::nullopt;
    TIniDocument document = TIniDocument::Parse(Text);
    if (!document.SectionExists(SerialSettingsSection) && !document.SectionExists(ScriptsSection))
        return std::nullopt;
    return document;
}

std::string ScriptSectionName(std::size_t N) { return "Script" + std::to_string(N); }

std::vector<int> ParseSlaveIds(const std::string &Text, int Except)
{
    std::array<bool, 256> seen{};
    std::size_t at = 0;
    while (at <= Text.size()) {
        std::size_t end = Text.find(',', at);
        if (end == std::string::npos)
            end = Text.size();
        std::size_t b = at, e = end;
        while (b < e && (Text[b] == ' ' || Text[b] == '\t'))
            ++b;
        while (e > b && (Text[e - 1] == ' ' || Text[e - 1] == '\t'))
            --e;
        // Plain decimal only; at most three digits can name an id.
        int id = 0;
        bool digits = b < e && e - b <= 3;
        for (std::size_t i = b; digits && i < e; ++i) {
            digits = Text[i] >= '0' && Text[i] <= '9';
            id = id * 10 + (Text[i] - '0');
        }
        if (digits && id >= 1 && id <= 255 && id != Except)
            seen[std::size_t(id)] = true;
        at = end + 1;
    }
    std::vector<int> ids;
    for (int id = 1; id <= 255; ++id)
        if (seen[std::size_t(id)])
            ids.push_back(id);
    return ids;
}

std::string FormatSlaveIds(const std::vector<int> &Ids)
{
    std::string text;
    for (int id : Ids) {
        if (!text.empty())
            text += ',';
        text += std::to_string(id);
    }
    return text;
}

TProfileContent ReadProfile(const TIniDocument &Document)
{
    TProfileContent content;
    TSerialValues &s = content.Serial;
    const TSerialValues defaults;
    s.MBid = Document.ReadInteger(SerialSettingsSection, "MBid", defaults.MBid);
    s.SerialPort = Document.ReadInteger(SerialSettingsSection, "SerialPort", defaults.SerialPort);
    s.BaudRate = Document.ReadInteger(SerialSettingsSection, "BaudRate", defaults.BaudRate);
    s.DataBits = Document.ReadInteger(SerialSettingsSection, "DataBits", defaults.DataBits);
    s.Parity = Document.ReadInteger(SerialSettingsSection, "StopBits", defaults.Parity);
    s.StopBits = Document.ReadInteger(SerialSettingsSection, "Parity", defaults.StopBits);
    s.Handshaking = Document.ReadInteger(SerialSettingsSection, "Handshaking", defaults.Handshaking);
    s.Device = Document.ReadString(SerialSettingsSection, "Device", "");
    s.Mode = SerialModeFromText(Document.ReadString(SerialSettingsSection, "Mode", ""));
    s.Framing = SerialFramingFromText(Document.ReadString(SerialSettingsSection, "Framing", ""));
    ReadAdapterKeys(Document, s);

    // The slave id control holds 1..255, and so does the first slave.
    content.Slaves.MoreIds = ParseSlaveIds(Document.ReadString(SerialSettingsSection, "MoreIds", ""),
                                           std::clamp(s.MBid, 1, 255));
    content.Slaves.Broadcast = Document.ReadInteger(SerialSettingsSection, "Broadcast", 0) != 0;

    auto readOptions = [&](int Id) {
        const TSlaveOptions o = ReadSlaveOptions(Document, Id);
        if (!(o == TSlaveOptions{}))
            content.Slaves.Options[Id] = o;
        if (TSlaveFormats f = ReadSlaveFormats(Document, Id); !f.empty())
            content.Slaves.Formats[Id] = std::move(f);
    };
    readOptions(std::clamp(s.MBid, 1, 255));
    for (int id : content.Slaves.MoreIds)
        readOptions(id);

    int count = Document.ReadInteger(ScriptsSection, "Count", 0);
    if (count <= 0)
        return content;
    // Up to the number of sections in the file, binding i comes from section
    // "Script" + i or, when that is missing, takes the defaults. Above it only
    // sections that exist give bindings, in the order of their numbers, so
    // that what a damaged "Count" or a "Script99999999" costs is bounded by
    // the size of the file.
    const std::vector<std::string> sections = Document.Sections();
    const std::size_t dense = std::min(std::size_t(count), sections.size());
    std::vector<std::size_t> sparse;
    for (const auto &name : sections) {
        std::size_t n = scriptSectionNumber(name);
        if (n > dense && n <= std::size_t(count))
            sparse.push_back(n);
    }
    std::sort(sparse.begin(), sparse.end());
    sparse.erase(std::unique(sparse.begin(), sparse.end()), sparse.end());
    auto read = [&](std::size_t i) {
        const std::string section = ScriptSectionName(i);
        TProfileBindingRecord r;
        r.Name = Document.ReadString(section, "Name", "");
        r.RegType = Document.ReadInteger(section, "RegType", 0);
        r.RegAdr = Document.ReadInteger(section, "RegAdr", 0);
        r.Param1 = Document.ReadInteger(section, "Param1", 0);
        r.Param2 = Document.ReadInteger(section, "Param2", 0);
        r.Param3 = Document.ReadInteger(section, "Param3", 0);
        if (const auto id = Document.Value(section, "MBid"))
            r.MBid = ParseIniInteger(*id);
        content.Bindings.push_back(std::move(r));
    };
    content.Bindings.reserve(dense + sparse.size());
    for (std::size_t i = 1; i <= dense; ++i)
        read(i);
    for (std::size_t i : sparse)
        read(i);
    return content;
}

std::string SlaveSectionName(int Id)
{
    return "Slave" + std::to_string(Id);
}

TSlaveOptions ReadSlaveOptions(const TIniDocument &Document, int Id)
{
    TSlaveOptions o;
    const std::string section = SlaveSectionName(Id);
    const int registers = Document.ReadInteger(section, "Registers", 0);
    o.Registers = registers <= 0 ? 0 : std::min(registers, MaxTableRegisters);
    o.Map = Document.ReadString(section, "Map", "");
    o.MappedOnly = Document.ReadInteger(section, "MappedOnly", 0) != 0;
    o.DeviceId = Document.ReadInteger(section, "DeviceId", 0) != 0;
    for (int i = 0; i < DeviceIdObjectCount; ++i)
        o.Identity[size_t(i)] = Document.ReadString(section, DeviceIdKeys[size_t(i)], "");
    o.Functions22And23 = Document.ReadInteger(section, "Functions22And23", 0) != 0;
    o.AddressOffset = std::clamp(Document.ReadInteger(section, "AddressOffset", 0), -1, 1);
    o.Strict = Document.ReadInteger(section, "Strict", 0) != 0;
    o.Offline = Document.ReadInteger(section, "Offline", 0) != 0;
    return o;
}

int SerialModeFromText(const std::string &Text)
{
    std::string upper = Text;
    for (char &c : upper)
        c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    return upper == "ASCII" ? 1 : 0;
}

std::string SerialModeText(int Mode)
{
    return Mode == 1 ? "ASCII" : "RTU";
}

int SerialFramingFromText(const std::string &Text)
{
    std::string upper = Text;
    for (char &c : upper)
        c = (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
    return upper == "STRICT" ? 1 : 0;
}

std::string SerialFramingText(int Framing)
{
    return Framing == 1 ? "Strict" : "Length";
}

TBindingList MakeBindings(const TScriptList &ScriptList,
                          const std::vector<TProfileBindingRecord> &Records)
{
    TBindingList list;
    list.reserve(Records.size());
    for (const auto &r : Records) {
        list.push_back(MakeBinding(ScriptList, r.Name, r.RegType, r.RegAdr, r.Param1, r.Param2,
                                   r.Param3));
        list.back().SlaveId = r.MBid;
    }
    return list;
}

std::vector<TIniEntry> ProfileEntries(const TSerialValues &Serial,
                                      const TBindingList &Bindings, bool DeviceKey)
{
    TIniDocument existing;
    if (DeviceKey)
        existing.Update(SerialSettingsSection, "Device", "");
    return ProfileEntries(Serial, Bindings, TProfileSlaves{}, existing);
}

std::vector<TIniEntry> ProfileEntries(const TSerialValues &Serial, const TBindingList &Bindings,
                                      const TProfileSlaves &Slaves,
                                      const TIniDocument &Existing)
{
    auto present = [&Existing](const std::string &section, const char *key) {
        return Existing.Value(section, key).has_value();
    };
    // A "Device" key already in the file is updated, also to empty, so that
    // it never outlives the choice it stood for.
    const bool DeviceKey = present(SerialSettingsSection, "Device");
    std::vector<TIniEntry> e;
    e.reserve(8 + 6 * Bindings.size());
    auto put = [&e](const std::string &section, const char *key, std::string value) {
        e.push_back({section, key, std::move(value)});
    };
    put(SerialSettingsSection, "MBid", std::to_string(Serial.MBid));
    put(SerialSettingsSection, "SerialPort", std::to_string(Serial.SerialPort));
    put(SerialSettingsSection, "BaudRate", std::to_string(Serial.BaudRate));
    put(SerialSettingsSection, "DataBits", std::to_string(Serial.DataBits));
    put(SerialSettingsSection, "StopBits", std::to_string(Serial.Parity));
    put(SerialSettingsSection, "Parity", std::to_string(Serial.StopBits));
    put(SerialSettingsSection, "Handshaking", std::to_string(Serial.Handshaking));
    if (DeviceKey || !Serial.Device.empty())
        put(SerialSettingsSection, "Device", Serial.Device);
    if (Serial.Mode != 0 || present(SerialSettingsSection, "Mode"))
        put(SerialSettingsSection, "Mode", SerialModeText(Serial.Mode));
    if (Serial.Framing != 0 || present(SerialSettingsSection, "Framing"))
        put(SerialSettingsSection, "Framing", SerialFramingText(Serial.Framing));
    for (TIniEntry &entry : AdapterEntries(Serial, Existing))
        e.push_back(std::move(entry));
    if (!Slaves.MoreIds.empty() || present(SerialSettingsSection, "MoreIds"))
        put(SerialSettingsSection, "MoreIds", FormatSlaveIds(Slaves.MoreIds));
    if (Slaves.Broadcast || present(SerialSettingsSection, "Broadcast"))
        put(SerialSettingsSection, "Broadcast", Slaves.Broadcast ? "1" : "0");
    // A slave's section is written when it has an option on, or when the
    // file already has it (so that turning options off clears their keys);
    // within it, only keys that say something or are already there.
    std::vector<int> ids{Serial.MBid};
    ids.insert(ids.end(), Slaves.MoreIds.begin(), Slaves.MoreIds.end());
    const TSlaveOptions off;
    for (int id : ids) {
        const auto found = Slaves.Options.find(id);
        const TSlaveOptions &o = found != Slaves.Options.end() ? found->second : off;
        const std::string section = SlaveSectionName(id);
        auto option = [&](const char *key, bool on, std::string value) {
            if (on || present(section, key))
                put(section, key, std::move(value));
        };
        option("Registers", o.Registers != 0, std::to_string(o.Registers));
        option("Map", !o.Map.empty(), o.Map);
        option("MappedOnly", o.MappedOnly, o.MappedOnly ? "1" : "0");
        option("DeviceId", o.DeviceId, o.DeviceId ? "1" : "0");
        for (int i = 0; i < DeviceIdObjectCount; ++i)
            option(DeviceIdKeys[size_t(i)], !o.Identity[size_t(i)].empty(),
                   o.Identity[size_t(i)]);
        option("Functions22And23", o.Functions22And23, o.Functions22And23 ? "1" : "0");
        option("AddressOffset", o.AddressOffset != 0, std::to_string(o.AddressOffset));
        option("Strict", o.Strict, o.Strict ? "1" : "0");
        option("Offline", o.Offline, o.Offline ? "1" : "0");
        const auto formats = Slaves.Formats.find(id);
        if (formats != Slaves.Formats.end() || Existing.SectionExists(FormatsSectionName(id)))
            AppendFormatEntries(e, id,
                                formats != Slaves.Formats.end() ? formats->second : TSlaveFormats{},
                                Existing);
    }
    put(ScriptsSection, "Count", std::to_string(Bindings.size()));
    for (std::size_t i = 0; i < Bindings.size(); ++i) {
        const TScriptBinding &b = Bindings[i];
        const std::string section = ScriptSectionName(i + 1);
        put(section, "Name", b.Name);
        put(section, "RegType", std::to_string(unsigned(b.RegType)));
        put(section, "RegAdr", std::to_string(b.RegAdr));
        put(section, "Param1", std::to_string(unsigned(b.Param1)));
        put(section, "Param2", std::to_string(unsigned(b.Param2)));
        put(section, "Param3", std::to_string(unsigned(b.Param3)));
        // Absent means the first slave; an earlier binding's key in this
        // section would otherwise name the wrong one.
        const int slave = b.SlaveId.value_or(Serial.MBid);
        if (slave != Serial.MBid || present(section, "MBid"))
            put(section, "MBid", std::to_string(slave));
    }
    return e;
}

} // namespace quorlin
