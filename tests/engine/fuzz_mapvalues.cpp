// SPDX-License-Identifier: MIT
// Arbitrary text typed into a mapped row, as a typed or an engineering value,
// and as a row format of a profile: refused with a reason, or registers of
// the item's span that read back as a value the item takes again.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/devicemap.h"

using namespace quorlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size < 2)
        return 0;
    // The first two bytes choose the item: kind, order, scale and offset.
    TMapItem item;
    item.Register = {RegTypeHoldingReg, 65530};
    item.Format.Kind = TValueKind(Data[0] % 11);
    item.Format.Order = TWordOrder((Data[0] >> 4) % 4);
    item.AsciiLength = item.Format.Kind == TValueKind::Ascii ? 1 + Data[1] % 12 : 0;
    static constexpr double Scales[] = {1, 0.1, -2.5, 1e-300, 1e300, 1000};
    item.Scale = Scales[Data[1] % 6];
    item.Offset = (Data[1] >> 4) % 2 ? -40 : 0;
    const std::string_view text(reinterpret_cast<const char *>(Data + 2), Size - 2);
    const size_t span = size_t(ItemSpan(item));

    for (const TItemWords &w :
         {ItemWordsFromText(item, text), ItemWordsFromEngineering(item, text)}) {
        if (w.Ok == !w.Error.empty())
            std::abort();
        if (!w.Ok)
            continue;
        if (w.Words.size() != span)
            std::abort();
        // What the table shows of them is a value the item takes back.
        if (!ItemWordsFromText(item, ItemValueText(item, w.Words)).Ok)
            std::abort();
        (void)ItemEngineeringText(item, w.Words);
    }
    if (const auto format = ParseFormatType(text))
        if (ParseFormatType(FormatTypeText(*format)) != format)
            std::abort();
    return 0;
}
