// SPDX-License-Identifier: MIT
// Aiming injected faults: at some function codes ("3,16"), at some registers
// ("4x0100-4x0199,3x0001"). A request outside the aim is answered as if no
// fault were set, and is not counted towards any "...Every" fault.
#pragma once

#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quorlin
{

// Registers First..Last of one table (type code 0, 1, 3 or 4), 1-based.
struct TRegisterSpan {
    int RegType = 4;
    int First = 1;
    int Last = 1;

    bool operator==(const TRegisterSpan &) const = default;
};

// Function codes 1..255 as decimal numbers or ranges ("3,16", "1-4, 15"),
// separated by commas, blanks around them allowed. Empty or blank text
// is no limit (nullopt with Ok). Anything else that is not such a list
// fails (Ok false).
struct TFunctionList {
    bool Ok = true;
    std::optional<std::bitset<256>> Codes; // none: every function
};
TFunctionList ParseFunctionList(std::string_view Text);

// Registers as the window names them ("4x0100", "3x1") or ranges of one
// table ("4x0100-4x0199"), separated by commas; numbers 1..65536.
struct TRegisterList {
    bool Ok = true;
    std::optional<std::vector<TRegisterSpan>> Spans; // none: every register
};
TRegisterList ParseRegisterList(std::string_view Text);

// What a request is, as far as the aim of a fault cares.
struct TFaultRequest {
    int SlaveId = 0;
    int Function = -1; // -1: unknown (every function limit misses it)
    // The registers the request reads or writes, by the register numbers the
    // slave serves; function 23 touches two spans, most functions one, the
    // functions without registers none.
    TRegisterSpan Touched[2];
    int TouchedCount = 0;
};

// The request in RTU layout (slave id, function, data; Length bytes without
// the checksum). AddressOffset: the slave serves register address + 1 +
// offset. Never reads past Length.
TFaultRequest FaultRequestOf(const uint8_t *Rtu, int Length, int AddressOffset);

// A section's aim, parsed once when the section is loaded. A limit whose
// text does not parse hits no request: a typing error must not widen a fault
// meant for one register to the whole line.
class TFaultAim
{
  public:
    void Set(std::string_view Functions, std::string_view Registers);
    bool Valid() const { return m_valid; }
    bool Limited() const { return m_functions.has_value() || m_registers.has_value(); }
    bool Hits(const TFaultRequest &Request) const;

  private:
    bool m_valid = true;
    std::optional<std::bitset<256>> m_functions;
    std::optional<std::vector<TRegisterSpan>> m_registers;
};

} // namespace quorlin
