// SPDX-License-Identifier: MIT
// Quorlin's own script library: value generators for bound registers.
//
// Every generator keeps its whole state in the binding's TScriptContext, which
// Quorlin zeroes when the binding is made, edited or loaded, so two bindings of
// one script run independently and a fresh binding starts from the beginning.
// Use of the context: Byte0 = 1 once started, Byte1 = direction (Triangle), Word2 = the
// current value, Qword8 = tick counter or random state.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "platform/fileversion.h"
#include "scriptlib/quorlinscript.h"

QUORLIN_FILE_VERSION(1, 0, 0, 0, 0x0409, 1252,
                     QUORLIN_VERSION_STRING("FileVersion", "1.0.0.0")
                         QUORLIN_VERSION_STRING("ProductName", "Quorlin")
                             QUORLIN_VERSION_STRING("FileDescription", "Quorlin value generators"));

namespace
{

struct ScriptText {
    const char *name;
    const char *description;
    const char *param1;
    const char *param2;
    const char *param3;
};

// Names are the exported symbols below; texts fit the script dialog's lines.
constexpr ScriptText Scripts[] = {
    {"Ramp", "Steps from From to To, then starts again at From (counts down if From > To).",
     "From: first value (0..65535)", "To: last value (0..65535)", "Step per tick (0 holds From)"},
    {"RampOnce", "Steps from From to To once and then holds To.", "From: first value (0..65535)",
     "To: final value (0..65535)", "Step per tick (0 holds From)"},
    {"Triangle", "Steps from From to To and back again, over and over.", "From: one end (0..65535)",
     "To: other end (0..65535)", "Step per tick (0 holds From)"},
    {"Sine", "Sine wave: Offset + Amplitude * sin(2 pi * tick / Period), kept in 0..65535.",
     "Amplitude", "Offset (middle value)", "Period in ticks of 100 ms (0 gives Offset)"},
    {"Square", "Square wave: Low for Half-period ticks, then High as long, and so on.",
     "Low value (0 for a coil off)", "High value (1 for a coil on)",
     "Half-period in ticks of 100 ms (0 counts as 1)"},
    {"Random", "Pseudo-random value from Min to Max, a new one every tick.", "Min (0..65535)",
     "Max (0..65535; swapped with Min if smaller)", "Seed (same seed, same values; 0: random)"},
    {"Counter", "Counts from Start by Step every N ticks, wrapping from 65535 to 0.",
     "Start value (0..65535)", "Step (65535 counts down by 1)",
     "N: ticks of 100 ms per step (0 counts as 1)"},
};
constexpr uint32_t ScriptCount = sizeof Scripts / sizeof Scripts[0];

void putString(TScriptString &dest, const char *text)
{
    size_t length = std::strlen(text);
    if (length > 255)
        length = 255;
    dest.Text[0] = uint8_t(length);
    std::memcpy(dest.Text + 1, text, length);
}

// Parameters arrive in 32-bit slots whose upper half is not meaningful.
inline uint32_t param(uint32_t p)
{
    return p & 0xFFFF;
}

// One step of a ramp from `from` towards `to`; the last step is shortened to
// land on `to`. Returns false when `cur` already is `to` (or outside the range).
bool stepTowards(uint32_t &cur, uint32_t from, uint32_t to, uint32_t step)
{
    if (from <= to) {
        if (cur < from || cur >= to)
            return false;
        cur = to - cur <= step ? to : cur + step;
    } else {
        if (cur > from || cur <= to)
            return false;
        cur = cur - to <= step ? to : cur - step;
    }
    return true;
}

uint64_t splitMix64(uint64_t &state)
{
    uint64_t z = (state += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

} // namespace

extern "C" {

uint32_t GetScriptCount(void)
{
    return ScriptCount;
}

void GetScriptInfo(uint32_t Index, TScriptInfo *Info)
{
    if (!Info)
        return;
    const ScriptText empty = {"", "", "", "", ""};
    const ScriptText &s = (Index & 0xFFFF) < ScriptCount ? Scripts[Index & 0xFFFF] : empty;
    putString(Info->Name, s.name);
    putString(Info->Description, s.description);
    putString(Info->Param1Text, s.param1);
    putString(Info->Param2Text, s.param2);
    putString(Info->Param3Text, s.param3);
}

uint32_t Ramp(uint32_t From, uint32_t To, uint32_t Step, TScriptContext *Ctx)
{
    const uint32_t from = param(From), to = param(To), step = param(Step);
    uint32_t cur = Ctx->Word2;
    if (!Ctx->Byte0 || step == 0 || !stepTowards(cur, from, to, step))
        cur = from;
    Ctx->Byte0 = 1;
    Ctx->Word2 = uint16_t(cur);
    return cur;
}

uint32_t RampOnce(uint32_t From, uint32_t To, uint32_t Step, TScriptContext *Ctx)
{
    const uint32_t from = param(From), to = param(To), step = param(Step);
    uint32_t cur = Ctx->Word2;
    if (!Ctx->Byte0 || step == 0)
        cur = from;
    else if (!stepTowards(cur, from, to, step) && cur != to)
        cur = from; // state from other parameters: start over
    Ctx->Byte0 = 1;
    Ctx->Word2 = uint16_t(cur);
    return cur;
}

uint32_t Triangle(uint32_t From, uint32_t To, uint32_t Step, TScriptContext *Ctx)
{
    const uint32_t from = param(From), to = param(To), step = param(Step);
    uint32_t cur = Ctx->Word2;
    if (!Ctx->Byte0 || step == 0) {
        cur = from;
        Ctx->Byte1 = 0;
    } else if (Ctx->Byte1 == 0) { // outward, towards To
        if (!stepTowards(cur, from, to, step)) {
            Ctx->Byte1 = 1;
            if (!stepTowards(cur, to, from, step))
                cur = from;
        }
    } else if (!stepTowards(cur, to, from, step)) { // back, towards From
        Ctx->Byte1 = 0;
        if (!stepTowards(cur, from, to, step))
            cur = from;
    }
    Ctx->Byte0 = 1;
    Ctx->Word2 = uint16_t(cur);
    return cur;
}

uint32_t Sine(uint32_t Amplitude, uint32_t Offset, uint32_t Period, TScriptContext *Ctx)
{
    const uint32_t amplitude = param(Amplitude), offset = param(Offset), period = param(Period);
    if (period == 0)
        return offset;
    const uint64_t tick = Ctx->Qword8 % period;
    Ctx->Qword8 = (tick + 1) % period;
    const double angle = 2.0 * 3.14159265358979323846 * double(tick) / double(period);
    double value = std::round(double(offset) + double(amplitude) * std::sin(angle));
    if (value < 0.0)
        value = 0.0;
    if (value > 65535.0)
        value = 65535.0;
    return uint32_t(value);
}

uint32_t Square(uint32_t Low, uint32_t High, uint32_t HalfPeriod, TScriptContext *Ctx)
{
    uint64_t half = param(HalfPeriod);
    if (half == 0)
        half = 1;
    const uint64_t tick = Ctx->Qword8 % (2 * half);
    Ctx->Qword8 = (tick + 1) % (2 * half);
    return tick < half ? param(Low) : param(High);
}

uint32_t Random(uint32_t Min, uint32_t Max, uint32_t Seed, TScriptContext *Ctx)
{
    uint32_t lo = param(Min), hi = param(Max);
    if (lo > hi) {
        uint32_t t = lo;
        lo = hi;
        hi = t;
    }
    if (!Ctx->Byte0) {
        Ctx->Byte0 = 1;
        uint64_t seed = param(Seed);
        if (seed == 0) {
            // Differs per binding (its context's address) and per run.
            timespec now{};
            clock_gettime(CLOCK_MONOTONIC, &now);
            seed = uint64_t(reinterpret_cast<uintptr_t>(Ctx)) ^
                   (uint64_t(now.tv_sec) * 1000000000ull + uint64_t(now.tv_nsec));
        }
        Ctx->Qword8 = seed;
    }
    uint64_t state = Ctx->Qword8;
    const uint64_t r = splitMix64(state) >> 32;
    Ctx->Qword8 = state;
    const uint64_t range = uint64_t(hi) - lo + 1; // 1..65536
    return lo + uint32_t((r * range) >> 32);
}

uint32_t Counter(uint32_t Start, uint32_t Step, uint32_t Ticks, TScriptContext *Ctx)
{
    uint64_t every = param(Ticks);
    if (every == 0)
        every = 1;
    if (!Ctx->Byte0) {
        Ctx->Byte0 = 1;
        Ctx->Word2 = uint16_t(param(Start));
        Ctx->Qword8 = 1;
        return Ctx->Word2;
    }
    if (Ctx->Qword8 >= every) {
        Ctx->Word2 = uint16_t(Ctx->Word2 + param(Step));
        Ctx->Qword8 = 0;
    }
    ++Ctx->Qword8;
    return Ctx->Word2;
}

} // extern "C"
