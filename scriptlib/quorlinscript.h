/* SPDX-License-Identifier: MIT
 * Public header for authors of a Quorlin script library (scripts.dll).
 *
 * A script library is a shared object named scripts.dll placed next to the
 * quorlin program. It exports, with C linkage:
 *   uint32_t GetScriptCount(void);                  -- low 16 bits used
 *   void     GetScriptInfo(uint32_t Index, TScriptInfo *Info);
 *   uint32_t <Name>(uint32_t P1, uint32_t P2, uint32_t P3, TScriptContext *Ctx);
 * one function per script, exported under the script's Name. Quorlin passes
 * each parameter as a 16-bit value and keeps the low 16 bits of the result;
 * a script should look only at the low 16 bits of each parameter, since the
 * upper half of the 32-bit slot is not meaningful.
 *
 * File version: the about box shows the library's version when one source file
 * stamps it with QUORLIN_FILE_VERSION (platform/fileversion.h, included below
 * when it is found next to this header or under platform/), for example:
 *   QUORLIN_FILE_VERSION(1, 0, 0, 0, 0x0409, 1252,
 *                        QUORLIN_VERSION_STRING("FileVersion", "1.0"));
 */
#ifndef QUORLIN_SCRIPT_H
#define QUORLIN_SCRIPT_H

#include <stddef.h>
#include <stdint.h>

#if defined(__has_include)
#if __has_include("platform/fileversion.h")
#include "platform/fileversion.h"
#elif __has_include("fileversion.h")
#include "fileversion.h"
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A length-prefixed string: Text[0] is the length (0..255), then that many
 * 8-bit characters, no terminator. */
typedef struct TScriptString {
    uint8_t Text[256];
} TScriptString;

/* Filled by GetScriptInfo; all five strings must be written on every call. */
typedef struct TScriptInfo {
    TScriptString Name;        /* list name and exported symbol name */
    TScriptString Description; /* one line shown in the script dialog */
    TScriptString Param1Text;
    TScriptString Param2Text;
    TScriptString Param3Text;
} TScriptInfo;

/* 24 bytes of state per binding, zeroed by Quorlin whenever a binding is
 * made, edited or loaded; its meaning belongs to the script. */
typedef struct TScriptContext {
    uint8_t Byte0;
    uint8_t Byte1;
    uint16_t Word2;
    uint16_t Word4;
    uint8_t Pad[2];
    uint64_t Qword8;
    uint64_t Qword16;
} TScriptContext;

typedef uint32_t (*TGetScriptCount)(void);
typedef void (*TGetScriptInfo)(uint32_t Index, TScriptInfo *Info);
typedef uint32_t (*TScriptFunc)(uint32_t Param1, uint32_t Param2, uint32_t Param3,
                                TScriptContext *Context);

#define QUORLIN_GET_SCRIPT_COUNT "GetScriptCount"
#define QUORLIN_GET_SCRIPT_INFO "GetScriptInfo"

#ifdef __cplusplus
} /* extern "C" */
static_assert(sizeof(TScriptInfo) == 1280, "TScriptInfo is five 256-byte strings");
static_assert(offsetof(TScriptInfo, Description) == 256);
static_assert(offsetof(TScriptInfo, Param1Text) == 512);
static_assert(offsetof(TScriptInfo, Param2Text) == 768);
static_assert(offsetof(TScriptInfo, Param3Text) == 1024);
static_assert(sizeof(TScriptContext) == 24, "TScriptContext is 24 bytes");
static_assert(offsetof(TScriptContext, Word2) == 2);
static_assert(offsetof(TScriptContext, Word4) == 4);
static_assert(offsetof(TScriptContext, Qword8) == 8);
static_assert(offsetof(TScriptContext, Qword16) == 16);
#else
_Static_assert(sizeof(TScriptInfo) == 1280, "TScriptInfo is five 256-byte strings");
_Static_assert(sizeof(TScriptContext) == 24, "TScriptContext is 24 bytes");
#endif

#endif /* QUORLIN_SCRIPT_H */
