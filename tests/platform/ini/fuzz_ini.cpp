// SPDX-License-Identifier: MIT
// Any bytes as an INI file: reading never goes out of bounds, the text a
// document writes reads back the same, and an update changes the one key it
// names and nothing else.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/inifile.h"

using namespace quorlin;

namespace {

void check(bool ok)
{
    if (!ok)
        std::abort();
}

std::string trimmed(std::string_view s)
{
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return std::string(s.substr(0, IniMaxValueLength));
}

std::string folded(std::string s)
{
    for (char &c : s)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return s;
}

struct Snapshot {
    std::vector<std::string> sections;
    std::vector<std::vector<std::pair<std::string, std::string>>> values;
};

Snapshot snapshot(const TIniDocument &doc)
{
    Snapshot s;
    s.sections = doc.Sections();
    for (const auto &sec : s.sections) {
        s.values.emplace_back();
        for (const auto &key : doc.SectionKeys(sec)) {
            auto v = doc.Value(sec, key);
            check(v.has_value() && v->size() <= IniMaxValueLength);
            ParseIniInteger(*v);
            s.values.back().emplace_back(key, *v);
        }
    }
    return s;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string_view text(reinterpret_cast<const char *>(data), size);
    TIniDocument doc = TIniDocument::Parse(text);
    const Snapshot before = snapshot(doc);

    // The written text is a fixed point of reading and writing again.
    const std::string written = doc.Text();
    const TIniDocument again = TIniDocument::Parse(written);
    check(again.Text() == written);
    const Snapshot reread = snapshot(again);
    check(reread.sections == before.sections && reread.values == before.values);

    // One update, its names taken from the file where there are any.
    if (size < 2)
        return 0;
    const std::string section =
        before.sections.empty() ? std::string("Scripts")
                                : before.sections[data[0] % before.sections.size()];
    std::string key = "Count";
    std::size_t secIndex = before.sections.empty() ? 0 : data[0] % before.sections.size();
    if (!before.values.empty() && !before.values[secIndex].empty() && (data[1] & 1))
        key = before.values[secIndex][data[1] % before.values[secIndex].size()].first;
    std::string value(text.substr(size / 2, 40));
    for (char &c : value)
        if (c == '\r' || c == '\n')
            c = ' ';
    if (!doc.Update(section, key, value))
        return 0;
    check(doc.Value(section, key) == trimmed(value));
    const TIniDocument updated = TIniDocument::Parse(doc.Text());
    check(updated.Value(section, key) == trimmed(value));
    // Every other key keeps its value.
    for (std::size_t i = 0; i < before.sections.size(); ++i)
        for (const auto &[k, v] : before.values[i])
            if (folded(before.sections[i]) != folded(section) || folded(k) != folded(key))
                check(updated.Value(before.sections[i], k) == v);
    return 0;
}
