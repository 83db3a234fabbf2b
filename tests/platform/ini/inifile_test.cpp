// SPDX-License-Identifier: MIT
// The INI reader/writer: integer rules, name matching, where updates land,
// and what a failed write leaves behind.
#include "platform/inifile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace quorlin {
namespace {

// ---------------------------------------------------------------------------
// Integers

struct IntegerRow {
    const char *name;
    const char *text;
    std::optional<int> expected;
};

class IniInteger : public ::testing::TestWithParam<IntegerRow> {};

TEST_P(IniInteger, ParsesAsTheProfileReaderDoes)
{
    EXPECT_EQ(ParseIniInteger(GetParam().text), GetParam().expected) << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IniInteger,
    ::testing::Values(
        IntegerRow{"Decimal", "42", 42}, IntegerRow{"Zero", "0", 0},
        IntegerRow{"LeadingZeroIsStillDecimal", "010", 10},
        IntegerRow{"LeadingBlanksSkipped", "  \t17", 17}, IntegerRow{"Negative", "-1", -1},
        IntegerRow{"PlusSign", "+7", 7}, IntegerRow{"HexLower0x", "0x10", 16},
        IntegerRow{"HexUpper0X", "0X1f", 31}, IntegerRow{"HexDollar", "$10", 16},
        IntegerRow{"HexLowerX", "x10", 16}, IntegerRow{"HexUpperX", "XfF", 255},
        IntegerRow{"NegativeHex", "-$10", -16},
        IntegerRow{"HexAllBitsIsMinusOne", "$FFFFFFFF", -1},
        IntegerRow{"HexAbove32Bits", "$100000000", std::nullopt},
        IntegerRow{"BareZeroXIsNoNumber", "0x", std::nullopt},
        IntegerRow{"BareDollar", "$", std::nullopt}, IntegerRow{"BareX", "x", std::nullopt},
        IntegerRow{"BadHexDigit", "0x1g", std::nullopt},
        IntegerRow{"Word", "abc", std::nullopt}, IntegerRow{"Yes", "yes", std::nullopt},
        IntegerRow{"TrailingText", "12abc", std::nullopt},
        IntegerRow{"InnerBlank", "1 2", std::nullopt}, IntegerRow{"Empty", "", std::nullopt},
        IntegerRow{"SignOnly", "-", std::nullopt},
        IntegerRow{"IntMax", "2147483647", INT_MAX},
        IntegerRow{"AboveIntMax", "2147483648", std::nullopt},
        IntegerRow{"IntMin", "-2147483648", INT_MIN},
        IntegerRow{"BelowIntMin", "-2147483649", std::nullopt},
        IntegerRow{"ManyDigits", "99999999999999999999999", std::nullopt}),
    [](const auto &info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------
// Reading

TEST(IniDocument, NamesMatchWithoutRegardToCaseAndFirstOccurrenceWins)
{
    const auto doc = TIniDocument::Parse("[serialsettings]\nMBID=7\nmbid=8\n"
                                         "[SerialSettings]\nMBid=9\nBaudRate=3\n");
    EXPECT_EQ(doc.ReadInteger("SerialSettings", "MBid", 1), 7);
    // Keys of a later section of the same name are not seen.
    EXPECT_EQ(doc.ReadInteger("SerialSettings", "BaudRate", 5), 5);
    EXPECT_EQ(doc.Sections(), std::vector<std::string>{"serialsettings"});
    EXPECT_EQ(doc.SectionKeys("SERIALSETTINGS"), std::vector<std::string>{"MBID"});
}

TEST(IniDocument, LineEndingsBlanksCommentsAndStrayLines)
{
    const auto doc = TIniDocument::Parse("Stray=1\r\n; comment\r\n  [ General ]  \r\n"
                                         "  StayOnTop = 1 \r\n;CurrentProfile=/x\rnot a key\r"
                                         "Empty=\nA=b=c\n=novalue\n[Open");
    EXPECT_EQ(doc.ReadString("General", "StayOnTop", "d"), "1");
    EXPECT_EQ(doc.ReadString("General", "CurrentProfile", "d"), "d"); // a comment is no key
    EXPECT_EQ(doc.ReadString("General", "Empty", "d"), "");
    EXPECT_EQ(doc.ReadString("General", "A", "d"), "b=c");
    EXPECT_EQ(doc.ReadString("", "Stray", "d"), "d");
    EXPECT_TRUE(doc.SectionExists("open")); // a header without "]" still opens a section
    EXPECT_EQ(doc.SectionKeys("General"), (std::vector<std::string>{"StayOnTop", "Empty", "A"}));
}

TEST(IniDocument, ValuesAreCutTo2047Characters)
{
    const std::string longValue(3000, 'v');
    const auto doc = TIniDocument::Parse("[S]\nK=" + longValue + "\nN=" + longValue.substr(0, 2047) + "\n");
    EXPECT_EQ(doc.ReadString("S", "K", ""), longValue.substr(0, 2047));
    EXPECT_EQ(doc.ReadString("S", "N", "").size(), 2047u);
    // The cut comes before the number is read.
    const auto num = TIniDocument::Parse("[S]\nK=" + std::string(2047, '1') + "x\n");
    EXPECT_EQ(num.ReadInteger("S", "K", -5), -5); // 2047 digits: no int
}

TEST(IniDocument, ReadBoolIsAnIntegerThatIsNotZero)
{
    const auto doc = TIniDocument::Parse("[G]\nA=1\nB=7\nC=0\nD=yes\nE=0x10\n");
    EXPECT_TRUE(doc.ReadBool("G", "A", false));
    EXPECT_TRUE(doc.ReadBool("G", "B", false));
    EXPECT_FALSE(doc.ReadBool("G", "C", true));
    EXPECT_FALSE(doc.ReadBool("G", "D", false));
    EXPECT_TRUE(doc.ReadBool("G", "D", true)); // no number: the default
    EXPECT_TRUE(doc.ReadBool("G", "E", false));
    EXPECT_FALSE(doc.ReadBool("G", "Missing", false));
}

// ---------------------------------------------------------------------------
// Updating

TEST(IniDocument, UpdatesLandInPlaceAtTheEndOfTheSectionOrTheEndOfTheFile)
{
    auto doc = TIniDocument::Parse("; profile\n"
                                   "[SerialSettings]\n"
                                   "mbid=3\n"
                                   "; keep me\n"
                                   "Unknown=x\n"
                                   "\n"
                                   "\n"
                                   "[Other]\n"
                                   "K=v\n");
    ASSERT_TRUE(doc.Update("SERIALSETTINGS", "MBid", "1"));
    ASSERT_TRUE(doc.Update("SerialSettings", "SerialPort", "2"));
    ASSERT_TRUE(doc.Update("Scripts", "Count", "0"));
    ASSERT_TRUE(doc.Update("serialsettings", "BaudRate", "5"));
    EXPECT_EQ(doc.Text(), "; profile\n"
                          "[SerialSettings]\n"
                          "MBid=1\n"
                          "; keep me\n"
                          "Unknown=x\n"
                          "SerialPort=2\n"
                          "BaudRate=5\n"
                          "\n"
                          "\n"
                          "[Other]\n"
                          "K=v\n"
                          "[Scripts]\n"
                          "Count=0\n");
}

TEST(IniDocument, RefusesWhatCannotBeReadBackTheSame)
{
    TIniDocument doc;
    EXPECT_FALSE(doc.Update("S", "K", "two\nlines"));
    EXPECT_FALSE(doc.Update("S", "K", "cr\rvalue"));
    EXPECT_FALSE(doc.Update("S]x", "K", "v"));
    EXPECT_FALSE(doc.Update("S", "K=", "v"));
    EXPECT_FALSE(doc.Update("S", ";K", "v"));
    EXPECT_FALSE(doc.Update("S", "[K", "v"));
    EXPECT_FALSE(doc.Update("S", " K", "v"));
    EXPECT_FALSE(doc.Update("", "K", "v"));
    EXPECT_FALSE(doc.Update("S", "", "v"));
    EXPECT_EQ(doc.Text(), "");
}

// ---------------------------------------------------------------------------
// Files

class IniFileTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_dir.isValid()); }
    void TearDown() override { IniWriteHook = m_savedHook; }

    std::string path(const char *name) const { return m_dir.filePath(name).toStdString(); }
    static std::string contents(const std::string &p)
    {
        QFile f(QString::fromStdString(p));
        if (!f.open(QIODevice::ReadOnly))
            return "<missing>";
        return f.readAll().toStdString();
    }
    static void put(const std::string &p, const std::string &text)
    {
        QFile f(QString::fromStdString(p));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.data(), qint64(text.size()));
    }
    QStringList entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
    }

    QTemporaryDir m_dir;
    IniWriteFunction m_savedHook = IniWriteHook;
};

// Where a rename cannot or should not replace the file, it is written where
// it is (same inode, permissions and other names); a failed write leaves the
// old text either way.
struct InPlaceRow {
    const char *name;
    bool folderWritable; // what the folder check says
    bool hardLinked;     // a second name for the file
};

class IniInPlace : public IniFileTest, public ::testing::WithParamInterface<InPlaceRow> {
protected:
    void TearDown() override
    {
        IniDirectoryWritableHook = m_savedFolderHook;
        IniFileTest::TearDown();
    }
    IniDirectoryWritableFunction m_savedFolderHook = IniDirectoryWritableHook;
};

TEST_P(IniInPlace, WritesTheFileItselfWhereARenameWouldNotDo)
{
    const std::string p = path("quorlin.ini"), tail = "; " + std::string(300, 'c') + "\n";
    put(p, "[General]\nStayOnTop=0\n" + tail);
    ASSERT_EQ(::chmod(p.c_str(), 0604), 0);
    if (GetParam().hardLinked) {
        ASSERT_EQ(::link(p.c_str(), path("other.ini").c_str()), 0);
    }
    if (!GetParam().folderWritable)
        IniDirectoryWritableHook = [](const std::string &) { return false; };
    // Held open, so a replaced file's inode number cannot be handed out again.
    const int original = ::open(p.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat before {}, after {};
    ASSERT_EQ(::fstat(original, &before), 0);

    TIniFile ini(p);
    // Longer than the old text, then shorter: the file grows and is cut.
    ASSERT_TRUE(ini.Write({{"General", "StayOnTop", "1"}, {"General", "CurrentProfile", "/a/b/c"}}))
        << ini.LastError();
    ASSERT_TRUE(ini.WriteString("General", "CurrentProfile", "/q")) << ini.LastError();
    IniWriteHook = [](int fd, const void *data, std::size_t size) -> long {
        if (size > 10)
            return long(::write(fd, data, 10));
        errno = EIO;
        return -1;
    };
    EXPECT_FALSE(ini.WriteString("General", "CurrentProfile", "/some/other/profile.QRL"));
    EXPECT_EQ(ini.LastError(), std::string(std::strerror(EIO)));

    ASSERT_EQ(::stat(p.c_str(), &after), 0);
    ::close(original);
    EXPECT_EQ(after.st_ino == before.st_ino, !GetParam().folderWritable || GetParam().hardLinked);
    EXPECT_EQ(after.st_mode & 07777, 0604u);
    const std::string last = "[General]\nStayOnTop=1\n" + tail + "CurrentProfile=/q\n";
    EXPECT_EQ(contents(p), last);
    if (GetParam().hardLinked) {
        EXPECT_EQ(contents(path("other.ini")), last);
    }
    EXPECT_TRUE(entries().filter(".tmp").isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Rows, IniInPlace,
                         ::testing::Values(InPlaceRow{"WritableFolderReplacesTheFile", true, false},
                                           InPlaceRow{"FolderNotWritable", false, false},
                                           InPlaceRow{"HardLinkedFile", true, true}),
                         [](const auto &info) { return std::string(info.param.name); });

// As user "nobody", without any seam: a root-owned program folder holding the
// user's quorlin.ini, and the user's folder holding root's writable file,
// which a rename would make the user's. Needs root to prepare; skipped otherwise.
struct UserRow {
    const char *name;
    bool folderOwnedByUser;
};

class IniAsUser : public IniFileTest, public ::testing::WithParamInterface<UserRow> {};

TEST_P(IniAsUser, SavesAndKeepsTheFilesOwner)
{
    const uid_t nobody = 65534;
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to prepare files for another user";
    const std::string folder = path("program"), p = folder + "/quorlin.ini";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    ASSERT_EQ(::chmod(m_dir.path().toLocal8Bit().constData(), 0755), 0);
    put(p, "[General]\nStayOnTop=0\n");
    ASSERT_EQ(::chmod(p.c_str(), 0666), 0);
    const bool byUser = GetParam().folderOwnedByUser;
    ASSERT_EQ(::chown(byUser ? folder.c_str() : p.c_str(), nobody, nobody), 0);
    struct stat before {}, after {};
    ASSERT_EQ(::stat(p.c_str(), &before), 0);

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobody) != 0 || ::setuid(nobody) != 0 ||
            ::access(p.c_str(), W_OK) != 0)
            ::_exit(2);
        ::_exit(TIniFile(p).WriteString("General", "StayOnTop", "1") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 2)
        GTEST_SKIP() << "cannot act as user nobody here";
    EXPECT_EQ(status, 0);
    EXPECT_EQ(contents(p), "[General]\nStayOnTop=1\n");
    ASSERT_EQ(::stat(p.c_str(), &after), 0);
    EXPECT_EQ(after.st_uid, before.st_uid);
    EXPECT_EQ(after.st_gid, before.st_gid);
}

INSTANTIATE_TEST_SUITE_P(Rows, IniAsUser,
                         ::testing::Values(UserRow{"RootOwnedFolderUsersFile", false},
                                           UserRow{"UsersFolderRootsWritableFile", true}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(IniFileTest, MissingFileReadsDefaultsAndFirstWriteCreatesIt)
{
    TIniFile ini(path("quorlin.ini"));
    EXPECT_EQ(ini.ReadString("General", "CurrentProfile", "none"), "none");
    EXPECT_EQ(ini.ReadInteger("General", "StayOnTop", 3), 3);
    EXPECT_TRUE(ini.ReadSections().empty());
    ASSERT_TRUE(ini.WriteBool("General", "StayOnTop", true));
    ASSERT_TRUE(ini.WriteInteger("General", "Count", -12));
    ASSERT_TRUE(ini.WriteString("Ports", "COM2", "/dev/ttyUSB0"));
    EXPECT_EQ(contents(path("quorlin.ini")),
              "[General]\nStayOnTop=1\nCount=-12\n[Ports]\nCOM2=/dev/ttyUSB0\n");
    EXPECT_EQ(ini.ReadString("ports", "com2", ""), "/dev/ttyUSB0");
    EXPECT_EQ(ini.ReadSectionKeys("general"), (std::vector<std::string>{"StayOnTop", "Count"}));
    EXPECT_EQ(entries(), QStringList{"quorlin.ini"}); // no temporary file left
}

TEST_F(IniFileTest, CrLfFileIsReadAndRewrittenWithLf)
{
    put(path("p.QRL"), "[SerialSettings]\r\nMBid=4\r\n; note\r\n");
    TIniFile ini(path("p.QRL"));
    EXPECT_EQ(ini.ReadInteger("SerialSettings", "MBid", 1), 4);
    ASSERT_TRUE(ini.WriteInteger("SerialSettings", "MBid", 5));
    EXPECT_EQ(contents(path("p.QRL")), "[SerialSettings]\nMBid=5\n; note\n");
}

TEST_F(IniFileTest, BatchWriteAppliesInOrderAndReplacesOnce)
{
    put(path("p.QRL"), "[A]\nx=1\n");
    struct stat before {};
    ASSERT_EQ(::stat(path("p.QRL").c_str(), &before), 0);
    TIniFile ini(path("p.QRL"));
    ASSERT_TRUE(ini.Write({{"A", "y", "2"}, {"B", "z", "3"}, {"a", "X", "4"}}));
    EXPECT_EQ(contents(path("p.QRL")), "[A]\nX=4\ny=2\n[B]\nz=3\n");
}

TEST_F(IniFileTest, ReadOnlyFileIsNeitherWrittenNorReplaced)
{
    const std::string p = path("p.QRL");
    put(p, "[SerialSettings]\nMBid=4\n");
    ASSERT_EQ(::chmod(p.c_str(), 0444), 0);
    struct stat before {};
    ASSERT_EQ(::stat(p.c_str(), &before), 0);
    TIniFile ini(p);
    EXPECT_FALSE(ini.WriteInteger("SerialSettings", "MBid", 9));
    EXPECT_FALSE(ini.LastError().empty());
    struct stat after {};
    ASSERT_EQ(::stat(p.c_str(), &after), 0);
    EXPECT_EQ(after.st_ino, before.st_ino); // the rename did not replace it
    EXPECT_EQ(contents(p), "[SerialSettings]\nMBid=4\n");
    EXPECT_EQ(entries(), QStringList{"p.QRL"});
}

TEST_F(IniFileTest, MissingDirectoryFails)
{
    TIniFile ini(path("no/such/dir/p.QRL"));
    EXPECT_FALSE(ini.WriteString("S", "K", "v"));
    EXPECT_NE(ini.LastError(), "");
    EXPECT_TRUE(entries().isEmpty());
}

TEST_F(IniFileTest, DirectoryInPlaceOfTheFileFails)
{
    ASSERT_TRUE(QDir(m_dir.path()).mkdir("p.QRL"));
    TIniFile ini(path("p.QRL"));
    EXPECT_EQ(ini.ReadString("S", "K", "d"), "d");
    EXPECT_FALSE(ini.WriteString("S", "K", "v"));
}

TEST_F(IniFileTest, WriteFailingHalfWayLeavesTheOldFileWhole)
{
    const std::string p = path("p.QRL");
    const std::string old = "[SerialSettings]\nMBid=4\n; " + std::string(500, 'c') + "\n";
    put(p, old);
    // A disk that fills after a few bytes.
    IniWriteHook = [](int fd, const void *data, std::size_t size) -> long {
        if (size > 10) {
            return long(::write(fd, data, 10));
        }
        errno = ENOSPC;
        return -1;
    };
    TIniFile ini(p);
    EXPECT_FALSE(ini.WriteInteger("SerialSettings", "MBid", 9));
    EXPECT_EQ(ini.LastError(), std::string(std::strerror(ENOSPC)));
    EXPECT_EQ(contents(p), old);
    EXPECT_EQ(entries(), QStringList{"p.QRL"});
}

TEST_F(IniFileTest, RefusedValueWritesNothing)
{
    const std::string p = path("p.QRL");
    put(p, "[S]\nA=1\n");
    TIniFile ini(p);
    EXPECT_FALSE(ini.Write({{"S", "A", "2"}, {"S", "B", "line\nbreak"}}));
    EXPECT_EQ(contents(p), "[S]\nA=1\n");
}

TEST_F(IniFileTest, ReplacementKeepsPermissions)
{
    const std::string p = path("p.QRL");
    put(p, "[S]\n");
    ASSERT_EQ(::chmod(p.c_str(), 0640), 0);
    TIniFile ini(p);
    ASSERT_TRUE(ini.WriteString("S", "K", "v"));
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(IniFileTest, SymbolicLinkKeepsPointingAtTheUpdatedFile)
{
    const std::string target = path("real.QRL");
    const std::string link = path("link.QRL");
    put(target, "[S]\nK=1\n");
    ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
    TIniFile ini(link);
    ASSERT_TRUE(ini.WriteString("S", "K", "2"));
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(contents(target), "[S]\nK=2\n");
}

TEST_F(IniFileTest, FifoAndDeviceReadAsMissingAndAreNotWritten)
{
    const std::string fifo = path("fifo.QRL");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0666), 0);
    for (const std::string &p : {fifo, std::string("/dev/zero")}) {
        TIniFile ini(p);
        EXPECT_EQ(ini.ReadString("S", "K", "d"), "d") << p; // returns, does not block or grow
        EXPECT_FALSE(ini.WriteString("S", "K", "v")) << p;
    }
}

TEST_F(IniFileTest, OversizedFileReadsAsMissingAndIsNotRewritten)
{
    const std::string p = path("big.QRL");
    put(p, "[S]\nK=1\n");
    ASSERT_EQ(::truncate(p.c_str(), off_t(IniMaxFileSize) + 1), 0);
    TIniFile ini(p);
    EXPECT_EQ(ini.ReadString("S", "K", "d"), "d");
    EXPECT_FALSE(ini.WriteString("S", "K", "2"));
    struct stat st {};
    ASSERT_EQ(::stat(p.c_str(), &st), 0);
    EXPECT_EQ(std::size_t(st.st_size), IniMaxFileSize + 1);
}

} // namespace
} // namespace quorlin
