// SPDX-License-Identifier: MIT
// The linker's search as the second place to find scripts.dll. This program
// runs with LD_LIBRARY_PATH naming the "full" test library's directory.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <string>

#include "scripts/scriptint.h"
#include "scripts/verinfo.h"

using namespace quorlin;

TEST(LibrarySearch, BareNameIsFoundThroughTheLinkersSearch)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    const std::string dir = empty.path().toStdString();
    TScriptLibrary lib;
    ASSERT_TRUE(lib.LoadScriptLibrary(dir));
    EXPECT_EQ(lib.ScriptList.size(), 7u);
    EXPECT_EQ(lib.Library().path(), "scripts.dll");

    // The about box's version line reads the very file that was loaded.
    TVersionInfo info("scripts.dll", dir);
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.GetFileVersion(), "2.1");
}

TEST(LibrarySearch, ProgramDirectoryComesFirst)
{
    const std::string dir = std::string(QUORLIN_TEST_LIBS) + "/high_count";
    TScriptLibrary lib;
    ASSERT_TRUE(lib.LoadScriptLibrary(dir));
    EXPECT_EQ(lib.ScriptList.size(), 2u);
    TVersionInfo info("scripts.dll", dir); // that copy carries no version
    EXPECT_FALSE(info.Valid());
}
