// SPDX-License-Identifier: MIT
// The known sequence a master plays against the program to show every fate
// of a frame: a normal read, a write, an exception 2, a bad CRC, a frame for
// another id, a broadcast, a fragment left to time out, a 300-byte burst,
// function 43, and a last read that shows the slave is still well. Each
// step comes with the CSV rows it must leave (without the time column).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include <modbus.h>

#include "tests/engine/fakes.h"

namespace quorlin::testing
{

struct SequenceStep {
    const char *Name;
    // Either a libmodbus request (returns its result, which must be >= 0
    // unless the step expects an exception) or raw bytes written to the line.
    std::function<int(modbus_t *)> Request;
    std::string Raw;               // hex() form, "crc" allowed
    int RawRepeat = 0;             // > 0: Raw is one byte sent this many times (the burst)
    std::vector<std::string> Rows; // "RX,1,3,0,2,answered,<hex>"; "*" matches any bytes
};

inline std::string hexOf(const std::string &Text)
{
    return quorlin::test::toHex(quorlin::test::hex(Text));
}

inline std::vector<SequenceStep> knownSequence()
{
    static uint16_t regs[4];
    return {
        {"NormalRead",
         [](modbus_t *m) { return modbus_read_registers(m, 0, 2, regs); },
         "",
         0,
         {"RX,1,3,0,2,answered," + hexOf("01 03 00 00 00 02 C4 0B"),
          "TX,1,3,0,2,reply," + hexOf("01 03 04 00 00 00 00 crc")}},
        {"Write",
         [](modbus_t *m) { return modbus_write_register(m, 1, 0x1234); },
         "",
         0,
         {"RX,1,6,1,,answered," + hexOf("01 06 00 01 12 34 crc"),
          "TX,1,6,1,,reply," + hexOf("01 06 00 01 12 34 crc")}},
        {"Exception2",
         [](modbus_t *m) { return modbus_read_registers(m, 256, 1, regs); },
         "",
         0,
         {"RX,1,3,256,1,exception 2," + hexOf("01 03 01 00 00 01 crc"),
          "TX,1,3,256,1,exception 2," + hexOf("01 83 02 crc")}},
        {"BadCrc",
         nullptr,
         "01 03 00 00 00 0A C5 CC",
         0,
         {"RX,1,3,0,10,bad crc,01 03 00 00 00 0A C5 CC"}},
        {"OtherSlave",
         nullptr,
         "02 03 00 00 00 0A crc",
         0,
         {"RX,2,3,0,10,other slave," + hexOf("02 03 00 00 00 0A crc")}},
        {"Broadcast",
         nullptr,
         "00 06 00 01 00 07 crc",
         0,
         {"RX,0,6,1,,broadcast: ignored (setting off)," + hexOf("00 06 00 01 00 07 crc")}},
        {"FragmentTimesOut", nullptr, "01 03 00", 0, {"RX,1,3,,,timed out,01 03 00"}},
        // 01 09 then 298 bytes 55: no length rule, and more than the buffer
        // holds. How the driver splits it decides how much was held when the
        // overflow came, so the bytes are not fixed.
        {"Burst300", nullptr, "55", 300, {"RX,*,too long,*"}},
        {"Function43",
         nullptr,
         "01 2B 0E 01 00 crc",
         0,
         {"RX,1,43,,,no reply," + hexOf("01 2B 0E 01 00 crc")}},
        {"StillAnswering",
         [](modbus_t *m) { return modbus_read_registers(m, 0, 2, regs); },
         "",
         0,
         {"RX,1,3,0,2,answered," + hexOf("01 03 00 00 00 02 C4 0B"),
          "TX,1,3,0,2,reply," + hexOf("01 03 04 00 00 12 34 crc")}},
    };
}

// The bytes of a raw step as they go on the line.
inline quorlin::test::Bytes rawBytes(const SequenceStep &Step)
{
    if (Step.RawRepeat == 0)
        return quorlin::test::hex(Step.Raw);
    quorlin::test::Bytes b(size_t(Step.RawRepeat), quorlin::test::hex(Step.Raw)[0]);
    b[0] = 0x01;
    b[1] = 0x09;
    return b;
}

// Whether a CSV row (time column removed) matches an expected row; a "*"
// ends the part that must match ("RX,*" any received row), and one in the
// middle stands for one field ("RX,*,too long,*").
inline bool rowMatches(const std::string &Row, const std::string &Want)
{
    const size_t star = Want.find('*');
    if (star == std::string::npos)
        return Row == Want;
    if (Row.compare(0, star, Want, 0, star) != 0)
        return false;
    if (star + 1 == Want.size())
        return true;
    const std::string rest = Want.substr(star + 1); // ",too long,*"
    const size_t at = Row.find(rest.substr(0, rest.find('*')), star);
    return at != std::string::npos && rowMatches(Row.substr(at), rest);
}

} // namespace quorlin::testing
