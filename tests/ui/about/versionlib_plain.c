/* SPDX-License-Identifier: MIT */
/* A library without version information. */
int about_test_plain(void)
{
    return 3;
}
