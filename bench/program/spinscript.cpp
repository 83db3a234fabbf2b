// SPDX-License-Identifier: MIT
// A script library with one slow script, for the turnaround benchmark: "Spin"
// busy-waits Param1 microseconds (2000 when 0) on the steady clock, as a
// script doing real work would keep its thread busy, then returns how many
// times this binding has run. The count lets the benchmark see that the
// scripts did run, so a library that failed to load cannot pass for a fast
// program.
#include <chrono>
#include <cstring>

#include "scriptlib/quorlinscript.h"

namespace
{

void put(TScriptString &S, const char *Text)
{
    const size_t n = std::strlen(Text);
    S.Text[0] = uint8_t(n);
    std::memcpy(S.Text + 1, Text, n);
}

} // namespace

extern "C" {

uint32_t GetScriptCount(void)
{
    return 1;
}

void GetScriptInfo(uint32_t Index, TScriptInfo *Info)
{
    if ((Index & 0xFFFF) != 0)
        return;
    put(Info->Name, "Spin");
    put(Info->Description, "busy-waits, then counts its runs");
    put(Info->Param1Text, "microseconds (0: 2000)");
    put(Info->Param2Text, "unused");
    put(Info->Param3Text, "unused");
}

uint32_t Spin(uint32_t P1, uint32_t, uint32_t, TScriptContext *Ctx)
{
    using Clock = std::chrono::steady_clock;
    const uint32_t us = (P1 & 0xFFFF) != 0 ? (P1 & 0xFFFF) : 2000;
    const auto end = Clock::now() + std::chrono::microseconds(us);
    while (Clock::now() < end) {
    }
    Ctx->Word2 = uint16_t(Ctx->Word2 + 1);
    return Ctx->Word2;
}

} // extern "C"
