// SPDX-License-Identifier: MIT
// Script libraries with one flaw or feature each, built as scripts.dll into a
// directory of their own per case (see CMakeLists.txt):
//   TESTLIB_FULL        the scripts the loading and binding tests use
//   TESTLIB_COUNT_ZERO  GetScriptCount says 0
//   TESTLIB_HIGH_COUNT  GetScriptCount says 0x10002: only the low 16 bits count
//   TESTLIB_NO_INFO     GetScriptCount but no GetScriptInfo
//   TESTLIB_NO_COUNT    neither export
//   TESTLIB_SPIN        one slow script, "Spin": busy-waits Param1 microseconds
//                       (2000 when 0), then returns how often it has run
//   TESTLIB_FOREIGN     scripts named after functions of its dependencies
//                       ("exit", "abort", "rand", "strlen"), a data object and
//                       one function of its own
#include <chrono>
#include <cstring>

#include "platform/fileversion.h"
#include "scriptlib/quorlinscript.h"

#define L16 "LLLLLLLLLLLLLLLL"
// 255 characters: fifteen times 16, then 14 and a final 'Z'.
#define LONG_NAME L16 L16 L16 L16 L16 L16 L16 L16 L16 L16 L16 L16 L16 L16 L16 "LLLLLLLLLLLLLLZ"

namespace
{

void put(TScriptString &s, const char *text)
{
    size_t n = std::strlen(text);
    s.Text[0] = uint8_t(n);
    std::memcpy(s.Text + 1, text, n);
}

[[maybe_unused]] void describe(TScriptInfo *info, const char *name, const char *description)
{
    put(info->Name, name);
    put(info->Description, description);
    put(info->Param1Text, "first");
    put(info->Param2Text, "second");
    put(info->Param3Text, "third");
}

} // namespace

extern "C" {

#if defined(TESTLIB_FULL)
QUORLIN_FILE_VERSION(9, 9, 9, 9, 0x0409, 1252, QUORLIN_VERSION_STRING("FileVersion", "2.1"));

static const char *const Names[] = {LONG_NAME, "Twin", "Twin", "Ghost", "Big", "Params", "Calls"};

uint32_t GetScriptCount(void)
{
    return sizeof Names / sizeof Names[0];
}

void GetScriptInfo(uint32_t Index, TScriptInfo *Info)
{
    static const char *const Descriptions[] = {
        "long", "twin one", "twin two", "not exported", "returns 70000", "echoes", "counts calls"};
    Index &= 0xFFFF;
    if (Index < GetScriptCount())
        describe(Info, Names[Index], Descriptions[Index]);
}

uint32_t LongScript(uint32_t, uint32_t, uint32_t, TScriptContext *) __asm__(LONG_NAME);
uint32_t LongScript(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 255;
}
uint32_t Twin(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 22;
}
uint32_t twin(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 33;
}
uint32_t Big(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 70000;
}

// Keeps what it was given, so a test can see each argument arrived.
uint32_t Params(uint32_t P1, uint32_t P2, uint32_t P3, TScriptContext *Ctx)
{
    Ctx->Qword8 = uint64_t(P1) | uint64_t(P2) << 16 | uint64_t(P3) << 32;
    return P1;
}

uint32_t Calls(uint32_t Base, uint32_t, uint32_t, TScriptContext *Ctx)
{
    Ctx->Word2 = uint16_t(Ctx->Word2 + 1);
    return Base + Ctx->Word2;
}

#elif defined(TESTLIB_SPIN)
uint32_t GetScriptCount(void)
{
    return 1;
}
void GetScriptInfo(uint32_t, TScriptInfo *Info)
{
    describe(Info, "Spin", "busy-waits, then counts its runs");
}
// As a script doing real work keeps the thread that runs it busy.
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

#elif defined(TESTLIB_COUNT_ZERO)
QUORLIN_FILE_VERSION(1, 2, 3, 4, 0x0409, 1252,
                     QUORLIN_VERSION_STRING("ProductName", "no file version text"));

uint32_t GetScriptCount(void)
{
    return 0;
}
void GetScriptInfo(uint32_t, TScriptInfo *Info)
{
    describe(Info, "Never", "never asked for");
}
uint32_t Never(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 1;
}

#elif defined(TESTLIB_HIGH_COUNT)
uint32_t GetScriptCount(void)
{
    return 0x10002;
}
void GetScriptInfo(uint32_t Index, TScriptInfo *Info)
{
    describe(Info, (Index & 0xFFFF) == 0 ? "First" : "Second", "");
}
uint32_t First(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 1;
}
uint32_t Second(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 2;
}

#elif defined(TESTLIB_NO_INFO)
uint32_t GetScriptCount(void)
{
    return 3;
}
uint32_t Orphan(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 7;
}

#elif defined(TESTLIB_NO_COUNT)
void GetScriptInfo(uint32_t, TScriptInfo *Info)
{
    describe(Info, "Orphan", "");
}
uint32_t Orphan(uint32_t, uint32_t, uint32_t, TScriptContext *)
{
    return 7;
}

#elif defined(TESTLIB_FOREIGN)
static const char *const Names[] = {"exit", "abort", "rand", "strlen", "Table", "Own", "Unknown"};

uint32_t GetScriptCount(void)
{
    return sizeof Names / sizeof Names[0];
}
void GetScriptInfo(uint32_t Index, TScriptInfo *Info)
{
    Index &= 0xFFFF;
    if (Index < GetScriptCount())
        describe(Info, Names[Index], "");
}
// Exported, but data: never a script's function.
uint32_t Table[4] = {1, 2, 3, 4}; // not const: that would make it local
uint32_t Own(uint32_t P1, uint32_t, uint32_t, TScriptContext *)
{
    return P1 + 1;
}

#else
#error "choose a TESTLIB_ case"
#endif

} // extern "C"
