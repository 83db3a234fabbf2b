// SPDX-License-Identifier: MIT
// Arbitrary text typed into a register of any format: it is refused with a
// reason, or it gives registers whose shown text reads back as the same
// registers. Byte 0 picks the format, the rest is the text.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "engine/valuecodec.h"

using namespace quorlin;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *Data, size_t Size)
{
    if (Size == 0)
        return 0;
    const TValueFormat format{TValueKind(Data[0] % 9), TWordOrder((Data[0] >> 4) & 3)};
    const std::string_view text(reinterpret_cast<const char *>(Data + 1), Size - 1);
    const TParsedValue parsed = ParseValue(format, text);
    if (!parsed.Ok) {
        if (parsed.Error.empty())
            std::abort();
        return 0;
    }
    const int span = RegisterSpan(format.Kind);
    const std::span<const uint16_t> words(parsed.Words.data(), size_t(span));
    const std::string shown = FormatValue(format, words);
    const TParsedValue again = ParseValue(format, shown);
    if (!again.Ok)
        std::abort();
    // A NaN reads back as a NaN, not necessarily with the same payload.
    const bool nan =
        (format.Kind == TValueKind::F32 &&
         std::isnan(std::bit_cast<float>(uint32_t(DecodeBits(words, format.Kind, format.Order))))) ||
        (format.Kind == TValueKind::F64 &&
         std::isnan(std::bit_cast<double>(DecodeBits(words, format.Kind, format.Order))));
    if (!nan && again.Words != parsed.Words)
        std::abort();
    return 0;
}
