/* SPDX-License-Identifier: MIT
 * A C library stamped with a version record: the macro must work from C. */
#include "platform/fileversion.h"

QUORLIN_FILE_VERSION(2, 1, 0, 7, 0x0407, 1252,
                     QUORLIN_VERSION_STRING("FileVersion", "2.1")
                         QUORLIN_VERSION_STRING("ProductName", "Stamped test library"));

int stamped_answer(void)
{
    return 42;
}
