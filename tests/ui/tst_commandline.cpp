// SPDX-License-Identifier: MIT
// The command line as rows of arguments and what they ask for, and the two
// texts of the status bar.
#include <gtest/gtest.h>

#include <algorithm>

#include "ui/commandline.h"
#include "ui/statustext.h"

namespace quorlin
{
namespace
{

using A = TCommandLine::TAction;

struct LineRow {
    const char *Name;
    std::vector<std::string> Args;
    A Action;
    std::string Profile;
    std::string Trace;
    std::string Values = {};
    // The listeners asked for, "tcp 127.0.0.1:1502;rtu [::]:4001", and --no-serial.
    std::string Listen = {};
    bool NoSerial = false;
    std::string Api = {};
    std::string ApiTokenFile = {};
};

class CommandLine : public ::testing::TestWithParam<LineRow>
{
};

TEST_P(CommandLine, ArgumentsAskForThis)
{
    const LineRow &row = GetParam();
    const TCommandLine c = ParseCommandLine(row.Args);
    EXPECT_EQ(c.Action, row.Action) << c.Error;
    if (row.Action == A::Error) {
        EXPECT_FALSE(c.Error.empty());
        return;
    }
    EXPECT_EQ(c.Profile, row.Profile);
    EXPECT_EQ(c.Trace, row.Trace);
    EXPECT_EQ(c.Values, row.Values);
    std::string listen;
    for (const TListenerConfig &l : c.Listeners)
        listen += (listen.empty() ? "" : ";") +
                  std::string(l.Kind == TStreamKind::ModbusTcp ? "tcp " : "rtu ") +
                  ListenSpecText(l.Address, l.Port);
    EXPECT_EQ(listen, row.Listen);
    EXPECT_EQ(c.NoSerial, row.NoSerial);
    EXPECT_EQ(c.Api, row.Api);
    EXPECT_EQ(c.ApiTokenFile, row.ApiTokenFile);
    EXPECT_EQ(c.Monitor,
              std::find(row.Args.begin(), row.Args.end(), "--monitor") != row.Args.end());
}

// clang-format off
const LineRow lineRows[] = {
    {"Nothing", {}, A::Run, "", ""},
    {"ProfileOnly", {"plant.QRL"}, A::Run, "plant.QRL", ""},
    {"TraceToFile", {"--trace", "out.csv"}, A::Run, "", "out.csv"},
    {"TraceWithEquals", {"--trace=out.csv", "plant.QRL"}, A::Run, "plant.QRL", "out.csv"},
    {"TraceToStandardOutput", {"--trace", "-", "plant.QRL"}, A::Run, "plant.QRL", "-"},
    {"ProfileBeforeOption", {"plant.QRL", "--trace", "t.csv"}, A::Run, "plant.QRL", "t.csv"},
    {"MonitorWithProfile", {"--monitor", "plant.QRL"}, A::Run, "plant.QRL", ""},
    {"DashDashEndsOptions", {"--", "--odd-name.QRL"}, A::Run, "--odd-name.QRL", ""},
    {"Help", {"--help"}, A::Help, "", ""},
    {"ShortHelp", {"-h"}, A::Help, "", ""},
    {"Version", {"--version"}, A::Version, "", ""},
    {"HelpWinsOverVersion", {"--version", "--help"}, A::Help, "", ""},
    {"Paths", {"--paths"}, A::Paths, "", ""},
    {"HelpWinsOverPaths", {"--paths", "-h"}, A::Help, "", ""},
    {"PathsWithAProfileStillOnlyPrints", {"plant.QRL", "--paths"}, A::Paths, "plant.QRL", ""},
    {"HelpWinsOverAWrongOptionAfterIt", {"--help", "plant.QRL"}, A::Help, "plant.QRL", ""},
    {"UnknownLongOption", {"--bogus"}, A::Error, "", ""},
    {"ValuesFile", {"--values", "v.csv", "plant.QRL"}, A::Run, "plant.QRL", "", "v.csv"},
    {"ValuesWithEqualsAndTrace", {"--values=v.csv", "--trace", "t.csv"}, A::Run, "", "t.csv", "v.csv"},
    {"ValuesWithoutFile", {"--values"}, A::Error, "", ""},
    {"ValuesTwice", {"--values", "a", "--values=b"}, A::Error, "", ""},
    {"HelpWithValuesLacksNothing", {"--values", "v.csv", "--help"}, A::Help, "", "", "v.csv"},
    {"UnknownShortOption", {"-x"}, A::Error, "", ""},
    {"TraceWithoutFile", {"--trace"}, A::Error, "", ""},
    {"TraceWithEmptyFile", {"--trace="}, A::Error, "", ""},
    {"TraceTwice", {"--trace", "a", "--trace", "b"}, A::Error, "", ""},
    {"TwoProfiles", {"a.QRL", "b.QRL"}, A::Error, "", ""},
    // a trace file named like an option is still a file name
    {"TraceFileLooksLikeAnOption", {"--trace", "--help"}, A::Run, "", "--help"},
    // Listeners: repeatable, in order, the address 127.0.0.1 unless given.
    {"ListenPortOnly", {"--listen", "1502"}, A::Run, "", "", "", "tcp 127.0.0.1:1502"},
    {"ListenSeveral", {"--listen=0.0.0.0:502", "--listen-rtu", "[::]:4001", "--listen", "1503", "p.QRL"},
     A::Run, "p.QRL", "", "", "tcp 0.0.0.0:502;rtu [::]:4001;tcp 127.0.0.1:1503"},
    {"NetworkAlone", {"--no-serial", "--listen-rtu=4001"}, A::Run, "", "", "", "rtu 127.0.0.1:4001", true},
    {"ListenWithoutPort", {"--listen"}, A::Error, "", ""},
    {"ListenBadPort", {"--listen", "70000"}, A::Error, "", ""},
    {"ListenUnbracketedIpv6", {"--listen-rtu", "::1:4001"}, A::Error, "", ""},
    {"ListenHostName", {"--listen=localhost:1502"}, A::Error, "", ""},
    {"ApiPortOnly", {"--api", "8502"}, A::Run, "", "", "", "", false, "8502"},
    {"ApiWithAddressAndToken", {"--api=0.0.0.0:8502", "--api-token-file", "t.txt", "p.QRL"},
     A::Run, "p.QRL", "", "", "", false, "0.0.0.0:8502", "t.txt"},
    {"ApiWithoutValue", {"--api"}, A::Error, "", ""},
    {"ApiTwice", {"--api", "1", "--api=2"}, A::Error, "", ""},
    {"TokenFileWithoutApi", {"--api-token-file", "t.txt"}, A::Error, "", ""},
};
// clang-format on

INSTANTIATE_TEST_SUITE_P(Ui, CommandLine, ::testing::ValuesIn(lineRows),
                         [](const auto &Info) { return std::string(Info.param.Name); });

TEST(CommandLineText, UsageNamesEveryOption)
{
    const std::string usage = UsageText("quorlin");
    EXPECT_EQ(usage.rfind("Usage: quorlin [options] [PROFILE]\n", 0), 0u);
    for (const char *option :
         {"--trace FILE", "--values FILE", "--monitor", "--help", "--version", "--paths", "PROFILE",
          "--listen [ADDRESS:]PORT", "--listen-rtu [ADDRESS:]PORT", "--no-serial",
          "--api [ADDRESS:]PORT", "--api-token-file FILE"})
        EXPECT_NE(usage.find(option), std::string::npos) << option;
}

TEST(StatusText, PortOnTheLeft)
{
    struct Row {
        TPortStatus Port;
        std::string Text;
    };
    const Row rows[] = {
        {{"COM2", "/dev/pts/4", true, 9600, 8, 'E', "1", ""}, "Connected 9600 8E1 - COM2 /dev/pts/4"},
        {{"COM1", "/dev/ttyUSB0", true, 38400, 8, 'N', "2", ""},
         "Connected 38400 8N2 - COM1 /dev/ttyUSB0"},
        {{"COM4", "/dev/ttyS3", true, 300, 7, 'S', "1.5", ""}, "Connected 300 7S1.5 - COM4 /dev/ttyS3"},
        {{"COM3", "/dev/ttyS2", false, 0, 8, 'N', "", "Permission denied"},
         "Disconnected: Permission denied - COM3 /dev/ttyS2"},
        {{"COM3", "/dev/ttyS2", false, 0, 8, 'N', "", ""}, "Disconnected - COM3 /dev/ttyS2"},
        {{"COMX", "", false, 0, 8, 'N', "", ""}, "Disconnected: no such port - COMX"},
        // A typed path is its own device: named once.
        {{"/tmp/x", "/tmp/x", false, 0, 8, 'N', "", "No such file or directory"},
         "Disconnected: No such file or directory - /tmp/x"},
        {{"/dev/pts/7", "/dev/pts/7", true, 19200, 8, 'N', "1", ""},
         "Connected 19200 8N1 - /dev/pts/7"},
    };
    for (const Row &r : rows)
        EXPECT_EQ(PortStatusText(r.Port), r.Text);
}

TEST(StatusText, CountersOnTheRight)
{
    TLineCounters c;
    c.Requests = 12;
    c.Exceptions = 1;
    c.BadCrc = 3;
    c.TimedOut = 2;
    c.OtherSlave = 99; // not among the four shown
    const std::pair<int64_t, std::string> rows[] = {
        {-1, "No request yet"},
        {0, "Last request just now"},
        {999999, "Last request just now"},
        {1000000, "Last request 1 s ago"},
        {59900000, "Last request 59 s ago"},
        {61000000, "Last request 1 min ago"},
        {3599000000LL, "Last request 59 min ago"},
        {3600000000LL + 5 * 60000000LL, "Last request 1 h 5 min ago"},
    };
    for (const auto &[since, tail] : rows)
        EXPECT_EQ(CountersStatusText(c, since),
                  "Requests 12 | Exceptions 1 | Bad CRC 3 | Timed out 2 | Injected 0 | " + tail);
    EXPECT_EQ(ShortCountersStatusText(c, -1), "Req 12 | Exc 1 | CRC 3 | T/O 2 | idle");
    EXPECT_EQ(ShortCountersStatusText(c, 61000000), "Req 12 | Exc 1 | CRC 3 | T/O 2 | 1 min ago");
    // Injected faults join the short line once there are any.
    c.Injected = 5;
    EXPECT_EQ(CountersStatusText(c, -1),
              "Requests 12 | Exceptions 1 | Bad CRC 3 | Timed out 2 | Injected 5 | No request yet");
    EXPECT_EQ(ShortCountersStatusText(c, -1), "Req 12 | Exc 1 | CRC 3 | T/O 2 | Inj 5 | idle");
}

} // namespace
} // namespace quorlin
