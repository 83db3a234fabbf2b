// SPDX-License-Identifier: MIT
// Loading scripts.dll and listing its scripts, and the version text of a file,
// against small libraries built by this test's CMakeLists.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <algorithm>
#include <fstream>
#include <string>

#include "scripts/scriptbinding.h"
#include "scripts/scriptint.h"
#include "scripts/verinfo.h"

using namespace quorlin;

namespace
{

std::string libDir(const char *testCase)
{
    return std::string(QUORLIN_TEST_LIBS) + "/" + testCase;
}

const std::string LongName = std::string(254, 'L') + "Z";

} // namespace

TEST(ScriptLibrary, MissingLibraryOffersNoScripts)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    TScriptLibrary lib;
    EXPECT_FALSE(lib.LoadScriptLibrary(empty.path().toStdString()));
    EXPECT_FALSE(lib.IsLoaded());
    EXPECT_TRUE(lib.ScriptList.empty());
    EXPECT_FALSE(lib.Library().errorString().empty());
}

TEST(ScriptLibrary, FileThatIsNoLibraryOffersNoScripts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    std::ofstream(dir.filePath("scripts.dll").toStdString()) << "not a shared object\n";
    TScriptLibrary lib;
    EXPECT_FALSE(lib.LoadScriptLibrary(dir.path().toStdString()));
    EXPECT_TRUE(lib.ScriptList.empty());
}

TEST(ScriptLibrary, CountZeroIsLikeNoLibrary)
{
    TScriptLibrary lib;
    EXPECT_FALSE(lib.LoadScriptLibrary(libDir("count_zero")));
    EXPECT_TRUE(lib.IsLoaded()); // stays open, as the program keeps it
    EXPECT_TRUE(lib.ScriptList.empty());
}

TEST(ScriptLibrary, LibraryWithoutGetScriptInfoOffersNoScripts)
{
    TScriptLibrary lib;
    EXPECT_FALSE(lib.LoadScriptLibrary(libDir("no_info")));
    EXPECT_TRUE(lib.IsLoaded());
    EXPECT_NE(lib.GetScriptCount, nullptr);
    EXPECT_EQ(lib.GetScriptInfo, nullptr);
    EXPECT_TRUE(lib.ScriptList.empty());
}

TEST(ScriptLibrary, LibraryWithoutGetScriptCountOffersNoScripts)
{
    TScriptLibrary lib;
    EXPECT_FALSE(lib.LoadScriptLibrary(libDir("no_count")));
    EXPECT_TRUE(lib.IsLoaded());
    EXPECT_TRUE(lib.ScriptList.empty());
}

TEST(ScriptLibrary, OnlyTheLow16BitsOfTheCountAreUsed)
{
    TScriptLibrary lib;
    ASSERT_TRUE(lib.LoadScriptLibrary(libDir("high_count")));
    ASSERT_EQ(lib.ScriptList.size(), 2u);
    EXPECT_EQ(lib.ScriptList[0].Name, "First");
    EXPECT_EQ(lib.ScriptList[1].Name, "Second");
}

TEST(ScriptLibrary, ListsScriptsInIndexOrderWithTheirTextsAndEntries)
{
    TScriptLibrary lib;
    ASSERT_TRUE(lib.LoadScriptLibrary(libDir("full")));
    const TScriptList &list = lib.ScriptList;
    ASSERT_EQ(list.size(), 7u);

    // A 255-character name is copied and looked up whole.
    EXPECT_EQ(list[0].Name, LongName);
    ASSERT_NE(list[0].Entry, nullptr);
    TScriptContext ctx{};
    EXPECT_EQ(list[0].Entry(0, 0, 0, &ctx), 255u);

    // Two scripts of one name are both listed and resolve to one function.
    EXPECT_EQ(list[1].Name, "Twin");
    EXPECT_EQ(list[2].Name, "Twin");
    EXPECT_EQ(list[1].Description, "twin one");
    EXPECT_EQ(list[2].Description, "twin two");
    ASSERT_NE(list[1].Entry, nullptr);
    EXPECT_EQ(list[1].Entry, list[2].Entry);

    // Listed although not exported.
    EXPECT_EQ(list[3].Name, "Ghost");
    EXPECT_EQ(list[3].Entry, nullptr);

    EXPECT_EQ(list[4].Param1Text, "first");
    EXPECT_EQ(list[4].Param2Text, "second");
    EXPECT_EQ(list[4].Param3Text, "third");
}

// Names the library lists but does not define itself reach nothing else: a
// binding of "exit" with Param1 = 42 would otherwise end the program at the
// first tick with status 42.
struct ForeignRow {
    const char *name;
    bool ownEntry;
};

class ForeignNames : public ::testing::TestWithParam<ForeignRow>
{
};

TEST_P(ForeignNames, OnlyTheLibrarysOwnFunctionsBecomeEntries)
{
    TScriptLibrary lib;
    ASSERT_TRUE(lib.LoadScriptLibrary(libDir("foreign")));
    const auto item = std::find_if(lib.ScriptList.begin(), lib.ScriptList.end(),
                                   [](const TScriptItem &i) { return i.Name == GetParam().name; });
    ASSERT_NE(item, lib.ScriptList.end());
    ASSERT_EQ(item->Entry != nullptr, GetParam().ownEntry);

    // A binding of it runs at a tick like any other and writes 0 or its result.
    TRegisterImage image;
    TBindingList bindings = {MakeBinding(lib.ScriptList, GetParam().name, 4, 7, 42, 0, 0)};
    EXPECT_EQ(bindings[0].Entry, item->Entry);
    image.HoldingRegs[7] = 999;
    RunScripts(bindings, image);
    image.ApplyPendingWrites();
    EXPECT_EQ(image.HoldingRegs[7], GetParam().ownEntry ? 43 : 0);
}

INSTANTIATE_TEST_SUITE_P(Rows, ForeignNames,
                         ::testing::Values(ForeignRow{"exit", false}, ForeignRow{"abort", false},
                                           ForeignRow{"rand", false}, ForeignRow{"strlen", false},
                                           ForeignRow{"Table", false}, ForeignRow{"Unknown", false},
                                           ForeignRow{"Own", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(ScriptLibrary, ProgramDirectoryCopyIsPreferred)
{
    // Two different libraries named scripts.dll: each program directory gets its own.
    TScriptLibrary a, b;
    ASSERT_TRUE(a.LoadScriptLibrary(libDir("full")));
    ASSERT_TRUE(b.LoadScriptLibrary(libDir("high_count")));
    EXPECT_EQ(a.ScriptList.size(), 7u);
    EXPECT_EQ(b.ScriptList.size(), 2u);
}

// The version text as the about box asks for it: bare name, program directory first.
TEST(VersionInfo, FileVersionTextIsPreferred)
{
    TVersionInfo info("scripts.dll", libDir("full"));
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.GetFileVersion(), "2.1");
    EXPECT_EQ(info.GetTranslation(), "040904E4");
    uint32_t ms = 0, ls = 0;
    ASSERT_TRUE(info.GetFixedVersion(ms, ls));
    EXPECT_EQ(ms, 0x00090009u);
    EXPECT_EQ(ls, 0x00090009u);
}

TEST(VersionInfo, FixedVersionStandsInForMissingFileVersion)
{
    TVersionInfo info(libDir("count_zero") + "/scripts.dll");
    ASSERT_TRUE(info.Valid());
    EXPECT_EQ(info.GetStringValue("FileVersion"), "");
    EXPECT_EQ(info.GetStringValue("ProductName"), "no file version text");
    EXPECT_EQ(info.GetFileVersion(), "1.2.3.4");
}

TEST(VersionInfo, NoVersionInformationGivesEmptyTexts)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string d = dir.path().toStdString();
    std::ofstream(d + "/notes.txt") << "FileVersion 2.1\n";
    const std::string cases[] = {
        libDir("no_info") + "/scripts.dll", // an ELF library without the record
        d + "/notes.txt",                   // a text file
        d,                                  // a directory
        d + "/missing.dll",                 // no file
    };
    for (const std::string &name : cases) {
        SCOPED_TRACE(name);
        TVersionInfo info(name);
        EXPECT_FALSE(info.Valid());
        EXPECT_EQ(info.GetTranslation(), "");
        EXPECT_EQ(info.GetStringValue("FileVersion"), "");
        EXPECT_EQ(info.GetFileVersion(), "");
        uint32_t ms = 0, ls = 0;
        EXPECT_FALSE(info.GetFixedVersion(ms, ls));
    }
    // A bare name found nowhere.
    TVersionInfo none("scripts.dll", d);
    EXPECT_FALSE(none.Valid());
}
