// SPDX-License-Identifier: MIT
// Any bytes as a profile: loading yields bounded values and bindings, and a
// save of what was loaded, into a new file or over the damaged one, loads
// back as the same profile.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string_view>

#include "profile/faultformat.h"
#include "profile/profileformat.h"

using namespace quorlin;

namespace {

uint32_t rampScript(uint32_t, uint32_t, uint32_t, TScriptContext *) { return 1; }

void check(bool ok)
{
    if (!ok)
        std::abort();
}

TIniDocument saved(TIniDocument doc, const TSerialValues &serial, const TBindingList &bindings,
                   const TProfileSlaves &slaves)
{
    for (const TIniEntry &e : ProfileEntries(serial, bindings, slaves, doc))
        check(doc.Update(e.Section, e.Key, e.Value)); // loaded values always fit on a line
    return TIniDocument::Parse(doc.Text());
}

void checkReloaded(const TIniDocument &doc, const TScriptList &scripts,
                   const TSerialValues &serial, const TBindingList &bindings,
                   const TProfileSlaves &slaves)
{
    const TProfileContent back = ReadProfile(doc);
    check(back.Serial == serial);
    check(back.Slaves == slaves);
    const TBindingList again = MakeBindings(scripts, back.Bindings);
    check(again.size() == bindings.size());
    for (std::size_t i = 0; i < again.size(); ++i) {
        const TScriptBinding &a = bindings[i], &b = again[i];
        // A name cut to 255 characters may end in a blank, which reading trims.
        std::string_view name = a.Name;
        while (!name.empty() && (name.back() == ' ' || name.back() == '\t'))
            name.remove_suffix(1);
        check(name == b.Name && a.Entry == b.Entry && a.RegType == b.RegType);
        check(a.Param1 == b.Param1 && a.Param2 == b.Param2 && a.Param3 == b.Param3);
        // The same slave, whether named or left to mean the first one.
        check(a.SlaveId.value_or(serial.MBid) == b.SlaveId.value_or(serial.MBid));
        // An address above INT_MAX (a negative one read back) is no number when read again.
        check(b.RegAdr == (a.RegAdr <= uint32_t(INT_MAX) ? a.RegAdr : 0u));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const TScriptList scripts = {{"Ramp", "", "", "", "", rampScript}};
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    const TIniDocument doc = TIniDocument::Parse(text);
    // Only text without NUL that names one of the profile's sections is a profile.
    const std::optional<TIniDocument> profile = ParseProfileText(text);
    check(!profile || text.find('\0') == std::string_view::npos);
    check(profile.has_value() ==
          (text.find('\0') == std::string_view::npos &&
           (doc.SectionExists("SerialSettings") || doc.SectionExists("Scripts"))));
    check(!profile || profile->Text() == doc.Text());
    const TProfileContent content = ReadProfile(doc);
    // Never more bindings than the file could describe.
    check(content.Bindings.size() <= 2 * doc.Sections().size());
    const TBindingList bindings = MakeBindings(scripts, content.Bindings);
    for (const auto &b : bindings)
        check(b.Name.size() <= 255 && (b.Entry == nullptr || b.Name == "Ramp"));

    const TProfileSlaves &slaves = content.Slaves;
    check(slaves.MoreIds.size() <= 254 && std::is_sorted(slaves.MoreIds.begin(), slaves.MoreIds.end()));
    for (int id : slaves.MoreIds)
        check(id >= 1 && id <= 255 && id != content.Serial.MBid);
    checkReloaded(saved(TIniDocument(), content.Serial, bindings, slaves), scripts, content.Serial,
                  bindings, slaves);
    checkReloaded(saved(doc, content.Serial, bindings, slaves), scripts, content.Serial, bindings,
                  slaves);

    // Faults come in range and survive a save over the damaged file.
    if (const auto faults = ReadFaults(doc)) {
        check(NormalisedFaults(*faults) == *faults);
        TIniDocument again = doc;
        for (const TIniEntry &e : FaultEntries(*faults))
            check(again.Update(e.Section, e.Key, e.Value));
        check(ReadFaults(TIniDocument::Parse(again.Text())) == faults);
    }
    return 0;
}
