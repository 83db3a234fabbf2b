/* SPDX-License-Identifier: MIT */
/* A library with a "FileVersion" text that differs from its fixed version. */
#include "platform/fileversion.h"

QUORLIN_FILE_VERSION(2, 1, 0, 9, 0x0409, 1252,
                     QUORLIN_VERSION_STRING("FileVersion", "2.1")
                         QUORLIN_VERSION_STRING("ProductName", "About box test library"));

int about_test_stamped(void)
{
    return 1;
}
