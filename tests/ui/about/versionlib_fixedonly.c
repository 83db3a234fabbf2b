/* SPDX-License-Identifier: MIT */
/* A library whose version record has no strings, only the fixed version. */
#include "platform/fileversion.h"

QUORLIN_FILE_VERSION(1, 2, 3, 4, 0x0409, 1252, "");

int about_test_fixedonly(void)
{
    return 2;
}
