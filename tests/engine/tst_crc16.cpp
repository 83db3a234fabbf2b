// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "tests/engine/fakes.h"

namespace quorlin::test
{
namespace
{

struct CrcVector {
    const char *Name;
    const char *Frame; // message bytes, then the CRC as sent (low byte first)
};

// Frames whose CRC bytes were written down by others, not computed here.
const CrcVector Vectors[] = {
    {"ReadTenHolding", "01 03 00 00 00 0A C5 CD"},
    {"ReadTenCoils", "01 01 00 00 00 0A BC 0D"},
    {"ReadCoilsReply", "01 01 02 0D 03 FD 6D"},
    {"ReadTwoHolding", "01 03 00 00 00 02 C4 0B"},
    {"ReadTwoHoldingReply", "01 03 04 12 34 00 05 7E 86"},
    {"RangeException", "01 81 02 C1 91"},
    {"ExceptionStatus", "01 07 41 E2"},
    {"ExceptionStatusReply", "01 07 00 22 30"},
    {"EventCounterReply", "01 0B 00 00 FF FF A5 BB"},
    {"EventLogReply", "01 0C 08 00 00 01 08 01 21 20 00 0D C1"},
    {"ReportSlaveIdReply", "01 11 09 09 FF 09 FF 01 02 0A 00 D0 AC 6F"},
    {"FileRecordException", "01 94 01 8F 00"},
};

class Crc : public ::testing::TestWithParam<CrcVector>
{
};

TEST_P(Crc, MatchesTheBytesOnTheWire)
{
    Bytes frame;
    std::istringstream in(GetParam().Frame);
    std::string tok;
    while (in >> tok)
        frame.push_back(uint8_t(std::stoul(tok, nullptr, 16)));
    const uint16_t crc = Crc16(frame.data(), frame.size() - 2);
    EXPECT_EQ(uint8_t(crc), frame[frame.size() - 2]);
    EXPECT_EQ(uint8_t(crc >> 8), frame[frame.size() - 1]);
}

INSTANTIATE_TEST_SUITE_P(Engine, Crc, ::testing::ValuesIn(Vectors),
                         [](const auto &info) { return std::string(info.param.Name); });

TEST(Crc16, EmptyMessageIsTheInitialValue)
{
    EXPECT_EQ(Crc16(nullptr, 0), 0xFFFF);
}

TEST(Crc16, AppendingTheCrcGivesZero)
{
    // Residue of the reflected CRC-16: a frame with its CRC appended checks to 0.
    const Bytes frame = hex("11 22 33 44 55 66 77 88 99 crc");
    EXPECT_EQ(Crc16(frame.data(), frame.size()), 0);
}

} // namespace
} // namespace quorlin::test
