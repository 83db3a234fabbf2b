// SPDX-License-Identifier: MIT
// The listeners' thread on loopback sockets: clients that misbehave never
// crash or stall it, and nothing is left behind when they go.
#include <gtest/gtest.h>

#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>

#include "engine/crc16.h"
#include "net/netserver.h"
#include "tests/engine/fakes.h"
#include "tests/net/netclient.h"

namespace quorlin::test
{
namespace
{

using namespace std::chrono_literals;

// Waits (bounded) until Condition holds.
template <typename F> bool eventually(F Condition, int TimeoutMs = 5000)
{
    for (int waited = 0; waited < TimeoutMs; waited += 5) {
        if (Condition())
            return true;
        std::this_thread::sleep_for(5ms);
    }
    return Condition();
}

long residentKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

// Slaves 1, 2 and 17 (holding register 1 = id * 100) behind a Modbus TCP and
// an RTU over TCP listener on ports the system picks.
struct ServerRig {
    TSlaveSet Slaves;
    TFaultPlan Faults;
    TNetServer Server{Slaves, Faults};
    int TcpPort = -1, RtuPort = -1;

    explicit ServerRig(int MaxClients = 64)
    {
        Slaves.Add(2);
        Slaves.Add(17);
        for (int id : {1, 2, 17})
            Slaves.Find(id)->HoldingRegs[1] = uint16_t(id * 100);
        TListenerConfig tcp, rtu;
        tcp.Port = rtu.Port = 0;
        tcp.MaxClients = MaxClients;
        rtu.Kind = TStreamKind::RtuOverTcp;
        EXPECT_TRUE(Server.Start({tcp, rtu}));
        TcpPort = Server.Listener(0).BoundPort;
        RtuPort = Server.Listener(1).BoundPort;
    }
    // A fresh client is answered: the server is alive and serving.
    bool answers()
    {
        RawClient c(TcpPort);
        return c.Send(hex("12 34 00 00 00 06 02 03 00 00 00 01")) &&
               c.Read(11, 5000) == hex("12 34 00 00 00 05 02 03 02 00 C8");
    }
};

struct HostileRow {
    const char *name;
    const char *bytes; // sent at once
    const char *reply; // what comes back before the end
    bool closed;       // the server closes the connection
};

class HostileInput : public ::testing::TestWithParam<HostileRow>
{
};

TEST_P(HostileInput, NeverStopsTheServer)
{
    const HostileRow &row = GetParam();
    ServerRig rig;
    RawClient c(rig.TcpPort);
    ASSERT_TRUE(c.Connected());
    ASSERT_TRUE(c.Send(hex(row.bytes)));
    const Bytes want = hex(row.reply);
    EXPECT_EQ(toHex(c.Read(want.size(), 3000)), toHex(want));
    if (row.closed)
        EXPECT_TRUE(c.ClosedByPeer());
    else
        EXPECT_FALSE(c.ClosedByPeer(200));
    EXPECT_TRUE(rig.answers());
    EXPECT_EQ(rig.Server.Listener(0).BadHeaders.load(), row.closed ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Mbap, HostileInput,
    ::testing::Values(
        HostileRow{"ProtocolId1", "00 01 00 01 00 06 01 03 00 00 00 01", "", true},
        HostileRow{"ProtocolIdFFFF", "00 01 FF FF 00 06 01 03 00 00 00 01", "", true},
        HostileRow{"Length0", "00 01 00 00 00 00 01", "", true},
        HostileRow{"Length1", "00 01 00 00 00 01 01", "", true},
        HostileRow{"Length255", "00 01 00 00 00 FF 01", "", true},
        HostileRow{"Length65535", "00 01 00 00 FF FF 01 03", "", true},
        HostileRow{"AnsweredThenBad",
                   "00 01 00 00 00 06 01 03 00 00 00 01 00 02 00 05 00 06 01 03 00 00 00 01",
                   "00 01 00 00 00 05 01 03 02 00 64", true},
        HostileRow{"HeaderCutShort", "00 01 00 00 00", "", false},
        HostileRow{"RequestCutShort", "00 01 00 00 00 06 01 03 00", "", false},
        HostileRow{"ShortPduGetsException3", "00 09 00 00 00 02 01 03",
                   "00 09 00 00 00 03 01 83 03", false},
        HostileRow{"LongestLengthUnknownFunction",
                   "00 0A 00 00 00 FE 01 41 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 "
                   "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00",
                   "00 0A 00 00 00 03 01 C1 01", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(NetServer, PipelinedRequestsAreAnsweredInOrderEachWithItsTransaction)
{
    ServerRig rig;
    RawClient c(rig.TcpPort);
    Bytes all, want;
    for (int t = 0; t < 40; ++t) {
        const int id = t % 3 == 0 ? 1 : t % 3 == 1 ? 2 : 17;
        const Bytes req = {0x00, uint8_t(t), 0, 0, 0, 6, uint8_t(id), 3, 0, 0, 0, 1};
        const Bytes rep = {0x00,
                           uint8_t(t),
                           0,
                           0,
                           0,
                           5,
                           uint8_t(id),
                           3,
                           2,
                           uint8_t((id * 100) >> 8),
                           uint8_t(id * 100)};
        all.insert(all.end(), req.begin(), req.end());
        want.insert(want.end(), rep.begin(), rep.end());
    }
    ASSERT_TRUE(c.Send(all));
    EXPECT_EQ(toHex(c.Read(want.size())), toHex(want));
}

TEST(NetServer, RtuOverTcpDropsAPartialRequestAfterASecondOfSilence)
{
    ServerRig rig;
    RawClient c(rig.RtuPort);
    ASSERT_TRUE(c.Send(hex("11 03 00")));
    EXPECT_TRUE(c.Read(1, 1300).empty());
    // Joined to the partial one this would be garbage; alone it is answered.
    ASSERT_TRUE(c.Send(hex("02 03 00 00 00 01 crc")));
    EXPECT_EQ(toHex(c.Read(7)), toHex(hex("02 03 02 00 C8 crc")));
}

// Held replies are deadlines of the loop: a delayed reply and the one
// pipelined behind it come out later, in order, while another client is
// answered at once; the faults are the serial line's plan, under its lock.
TEST(NetServer, InjectedDelayHoldsRepliesInOrderWithoutHoldingOthers)
{
    ServerRig rig;
    TFaultSettings f;
    f.Enabled = 1;
    f.MBid = 17; // only slave 17 is slow
    f.DelayMs = 300;
    {
        std::lock_guard<std::mutex> hold(rig.Slaves.Lock());
        rig.Faults.Load(f);
    }
    RawClient slow(rig.TcpPort);
    ASSERT_TRUE(slow.Send(hex("00 01 00 00 00 06 11 03 00 00 00 01 "
                              "00 02 00 00 00 06 11 03 00 00 00 01")));
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(rig.answers()); // slave 2 is not delayed
    EXPECT_TRUE(slow.Read(1, 100).empty());
    EXPECT_EQ(toHex(slow.Read(22)), toHex(hex("00 01 00 00 00 05 11 03 02 06 A4 "
                                              "00 02 00 00 00 05 11 03 02 06 A4")));
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 250ms);
    std::lock_guard<std::mutex> hold(rig.Slaves.Lock());
    EXPECT_EQ(rig.Faults.Counts().Delayed, 2u);
}

TEST(NetServer, AByteEvery200MsNeverHoldsOtherClientsBack)
{
    ServerRig rig;
    RawClient slow(rig.TcpPort), fast(rig.TcpPort);
    const Bytes req = hex("00 07 00 00 00 06 11 03 00 00 00 01");
    int fastAnswers = 0;
    for (uint8_t b : req) {
        ASSERT_TRUE(slow.Send({b}));
        // Meanwhile the other client is answered at once, again and again.
        for (int i = 0; i < 5; ++i)
            if (fast.Send(hex("00 01 00 00 00 06 01 03 00 00 00 01")) &&
                fast.Read(11, 1000) == hex("00 01 00 00 00 05 01 03 02 00 64"))
                ++fastAnswers;
        std::this_thread::sleep_for(200ms);
    }
    EXPECT_EQ(fastAnswers, 5 * int(req.size()));
    EXPECT_EQ(toHex(slow.Read(11)), toHex(hex("00 07 00 00 00 05 11 03 02 06 A4")));
}

TEST(NetServer, ThousandsOfConnectCloseCyclesLeaveNoDescriptorOrMemoryBehind)
{
    ServerRig rig;
    ASSERT_TRUE(rig.answers());
    ASSERT_TRUE(eventually([&] { return rig.Server.Clients() == 0; }));
    const int fds = OpenFdCount();
    const long rss = residentKb();
    for (int i = 0; i < 3000; ++i) {
        RawClient c(i % 2 ? rig.TcpPort : rig.RtuPort);
        ASSERT_TRUE(c.Connected()) << i;
        if (i % 3 == 0)
            c.Send(hex("00 01 00 00 00 06 01 03 00 7C 00 7D")); // a reply it never reads
        if (i % 5 == 0)
            c.Reset();
    }
    // The kernel queues the connections faster than the loop takes them: wait
    // until every one was taken (or refused at the client limit, which dead
    // connections not yet seen closing may fill), then until all are gone.
    auto taken = [&] {
        uint64_t n = 0;
        for (int l = 0; l < rig.Server.ListenerCount(); ++l)
            n += rig.Server.Listener(l).Accepted.load() + rig.Server.Listener(l).Refused.load();
        return n;
    };
    EXPECT_TRUE(eventually([&] { return taken() >= 3001 && rig.Server.Clients() == 0; }, 60000))
        << taken();
    EXPECT_EQ(OpenFdCount(), fds);
    EXPECT_LT(residentKb() - rss, 16 * 1024);
    EXPECT_TRUE(rig.answers());
}

TEST(NetServer, ClientsBeyondTheLimitAreClosedAtOnceAndCounted)
{
    ServerRig rig(2);
    RawClient a(rig.TcpPort), b(rig.TcpPort);
    ASSERT_TRUE(eventually([&] { return rig.Server.Clients() == 2; }));
    RawClient over(rig.TcpPort);
    EXPECT_TRUE(over.ClosedByPeer());
    EXPECT_EQ(rig.Server.Listener(0).Refused.load(), 1u);
    ASSERT_TRUE(a.Send(hex("00 01 00 00 00 06 01 03 00 00 00 01")));
    EXPECT_EQ(toHex(a.Read(11)), toHex(hex("00 01 00 00 00 05 01 03 02 00 64")));
    // One leaves: a new one takes its place.
    b.Close();
    ASSERT_TRUE(eventually([&] { return rig.Server.Clients() == 1; }));
    EXPECT_TRUE(rig.answers());
}

TEST(NetServer, AClientThatNeverReadsIsClosedWithoutHoldingOthersBack)
{
    ServerRig rig;
    RawClient greedy(rig.TcpPort, 4096);
    // 125 registers a request: 257 reply bytes for 12 sent.
    Bytes batch;
    for (int i = 0; i < 100; ++i) {
        const Bytes r = hex("00 01 00 00 00 06 01 03 00 00 00 7D");
        batch.insert(batch.end(), r.begin(), r.end());
    }
    bool closed = false;
    for (int round = 0; round < 20000 && !closed; ++round) {
        pollfd p{greedy.Fd(), POLLOUT, 0};
        if (::poll(&p, 1, 50) <= 0)
            continue;
        closed = (p.revents & (POLLERR | POLLHUP)) != 0 ||
                 ::send(greedy.Fd(), batch.data(), batch.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0;
        if (round % 50 == 0) {
            EXPECT_TRUE(rig.answers()) << round;
        }
        closed = closed || rig.Server.Listener(0).Overflowed.load() > 0;
    }
    EXPECT_TRUE(eventually([&] { return rig.Server.Listener(0).Overflowed.load() == 1; }));
    EXPECT_TRUE(rig.answers());
}

TEST(NetServer, StopClosesEveryConnectionAndDescriptor)
{
    const int fds = OpenFdCount();
    {
        ServerRig rig;
        RawClient a(rig.TcpPort), b(rig.RtuPort);
        ASSERT_TRUE(a.Send(hex("00 01 00 00 00 06 01 03 00 00")));
        ASSERT_TRUE(eventually([&] { return rig.Server.Clients() == 2; }));
        rig.Server.Stop();
        EXPECT_FALSE(rig.Server.Running());
        EXPECT_TRUE(a.ClosedByPeer());
        EXPECT_TRUE(b.ClosedByPeer());
    }
    EXPECT_EQ(OpenFdCount(), fds);
}

// Settings > Network... applies its rows while clients are connected: a
// listener asked for again as it runs keeps them, a changed one restarts.
struct UpdateRow {
    const char *name;
    void (*change)(TListenerConfig &); // applied to the Modbus TCP listener
    bool kept;                         // its client stays connected
};

class ListenerUpdate : public ::testing::TestWithParam<UpdateRow>
{
};

TEST_P(ListenerUpdate, KeepsClientsOnlyOfListenersThatStayAsTheyAre)
{
    const UpdateRow &row = GetParam();
    ServerRig rig;
    TFaultSettings f;
    f.Enabled = 1;
    f.MBid = 17;
    f.DelayMs = 300;
    {
        std::lock_guard<std::mutex> hold(rig.Slaves.Lock());
        rig.Faults.Load(f);
    }
    RawClient a(rig.TcpPort), b(rig.RtuPort);
    ASSERT_TRUE(b.Send(hex("02 03 00 00 00 01 crc")));
    ASSERT_EQ(b.Read(7).size(), 7u);
    // Held back when the update comes: a kept connection still gets it.
    ASSERT_TRUE(a.Send(hex("00 07 00 00 00 06 11 03 00 00 00 01")));
    ASSERT_TRUE(eventually([&] { return rig.Server.Clients() == 2; }));

    TListenerConfig tcp, rtu;
    tcp.Port = rtu.Port = 0;
    rtu.Kind = TStreamKind::RtuOverTcp;
    row.change(tcp);
    EXPECT_TRUE(rig.Server.Update({tcp, rtu}));
    ASSERT_EQ(rig.Server.ListenerCount(), 2);
    EXPECT_TRUE(rig.Server.Running());

    if (row.kept) {
        EXPECT_EQ(rig.Server.Listener(0).BoundPort, rig.TcpPort);
        EXPECT_EQ(toHex(a.Read(11)), toHex(hex("00 07 00 00 00 05 11 03 02 06 A4")));
        EXPECT_EQ(rig.Server.Listener(0).Clients.load(), 1);
    } else {
        EXPECT_TRUE(a.ClosedByPeer());
        EXPECT_TRUE(eventually([&] { return rig.Server.Listener(0).Clients.load() == 0; }));
    }
    EXPECT_EQ(rig.Server.Listener(0).Listening(), tcp.Enabled);
    if (tcp.Enabled && tcp.Kind == TStreamKind::ModbusTcp && tcp.Address == "127.0.0.1") {
        rig.TcpPort = rig.Server.Listener(0).BoundPort;
        EXPECT_TRUE(rig.answers());
    }
    // The RTU over TCP listener did not change: its client is still served.
    EXPECT_EQ(rig.Server.Listener(1).BoundPort, rig.RtuPort);
    ASSERT_TRUE(b.Send(hex("02 03 00 00 00 01 crc")));
    EXPECT_EQ(toHex(b.Read(7)), toHex(hex("02 03 02 00 C8 crc")));
    EXPECT_EQ(rig.Server.Listener(1).Clients.load(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Network, ListenerUpdate,
    ::testing::Values(
        UpdateRow{"Unchanged", [](TListenerConfig &) {}, true},
        // -5 is brought to 0, the id it had: nothing changed.
        UpdateRow{"SameOnceNormalised", [](TListenerConfig &C) { C.DefaultId = -5; }, true},
        UpdateRow{"MaxClients", [](TListenerConfig &C) { C.MaxClients = 65; }, false},
        UpdateRow{"DefaultId", [](TListenerConfig &C) { C.DefaultId = 2; }, false},
        UpdateRow{"Kind", [](TListenerConfig &C) { C.Kind = TStreamKind::RtuOverTcp; }, false},
        UpdateRow{"Address", [](TListenerConfig &C) { C.Address = "::1"; }, false},
        UpdateRow{"TurnedOff", [](TListenerConfig &C) { C.Enabled = false; }, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(NetServer, UpdateFollowsListenersToNewPlacesAndReopensAChangedOneOnItsOwnPort)
{
    const int fds = OpenFdCount();
    {
        ServerRig rig;
        RawClient a(rig.TcpPort);
        ASSERT_TRUE(a.Send(hex("00 01 00 00 00 06 01 03 00 00 00 01")));
        ASSERT_EQ(a.Read(11).size(), 11u);
        // A new listener first (alike but for its client limit), the Modbus
        // TCP one moved behind it, the RTU over TCP one now on the port it
        // had by chance: a change, so it closes before that port opens again.
        TListenerConfig added, tcp, rtu;
        added.Port = tcp.Port = 0;
        added.MaxClients = 10;
        rtu.Kind = TStreamKind::RtuOverTcp;
        rtu.Port = rig.RtuPort;
        ASSERT_TRUE(rig.Server.Update({added, tcp, rtu}));
        EXPECT_EQ(rig.Server.Listener(1).BoundPort, rig.TcpPort);
        EXPECT_EQ(rig.Server.Listener(1).Clients.load(), 1);
        EXPECT_EQ(rig.Server.Listener(2).BoundPort, rig.RtuPort);
        // Counted where it now is, and served there.
        ASSERT_TRUE(a.Send(hex("00 02 00 00 00 06 02 03 00 00 00 01")));
        EXPECT_EQ(toHex(a.Read(11)), toHex(hex("00 02 00 00 00 05 02 03 02 00 C8")));
        rig.TcpPort = rig.Server.Listener(0).BoundPort;
        EXPECT_TRUE(rig.answers());
        RawClient r(rig.RtuPort);
        ASSERT_TRUE(r.Send(hex("11 03 00 00 00 01 crc")));
        EXPECT_EQ(toHex(r.Read(7)), toHex(hex("11 03 02 06 A4 crc")));
        a.Close();
        EXPECT_TRUE(eventually([&] { return rig.Server.Listener(1).Clients.load() == 0; }));

        // Nothing left to listen: the thread stops and every client goes.
        EXPECT_TRUE(rig.Server.Update({}));
        EXPECT_FALSE(rig.Server.Running());
        EXPECT_TRUE(r.ClosedByPeer());
    }
    EXPECT_EQ(OpenFdCount(), fds);
}

TEST(NetServer, APortInUseSaysWhy)
{
    ServerRig first;
    TSlaveSet slaves;
    TFaultPlan faults;
    TNetServer second(slaves, faults);
    TListenerConfig c;
    c.Port = first.TcpPort;
    EXPECT_FALSE(second.Start({c}));
    EXPECT_FALSE(second.Running());
    EXPECT_EQ(second.Listener(0).Error,
              "cannot listen on 127.0.0.1:" + std::to_string(first.TcpPort) +
                  ": Address already in use");
}

TEST(NetServer, FramesAreReportedWithTheirLine)
{
    ServerRig rig;
    RawClient c(rig.TcpPort);
    ASSERT_TRUE(c.Send(hex("00 01 00 00 00 06 05 03 00 00 00 01")));
    ASSERT_EQ(c.Read(9).size(), 9u);
    std::vector<std::string> lines;
    std::vector<TVerdict> verdicts;
    ASSERT_TRUE(eventually([&] {
        rig.Server.Frames().Drain([&](const TFrameReport &R, int64_t, int64_t) {
            lines.emplace_back(R.Line);
            verdicts.push_back(R.Verdict);
        });
        return !lines.empty();
    }));
    EXPECT_EQ(lines[0].rfind("tcp 127.0.0.1:", 0), 0u) << lines[0];
    EXPECT_EQ(verdicts[0], TVerdict::Exception);
}

} // namespace
} // namespace quorlin::test

namespace quorlin::test
{
namespace
{

// With descriptors gone, accepting pauses (a bounded number of times a
// second) instead of spinning on a listener that is always ready, and
// resumes once descriptors are free again. The server runs in a child
// process whose descriptor limit is cut, so this process keeps its own.
TEST(NetServer, OutOfDescriptorsPausesAcceptingAndRecovers)
{
    int toChild[2], toParent[2];
    ASSERT_EQ(::pipe(toChild), 0);
    ASSERT_EQ(::pipe(toParent), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        TSlaveSet slaves;
        TFaultPlan faults;
        TNetServer server(slaves, faults);
        TListenerConfig c;
        c.Port = 0;
        if (!server.Start({c}))
            ::_exit(10);
        // The limit cut only now: the server raised it to the hard one at start.
        rlimit r{};
        ::getrlimit(RLIMIT_NOFILE, &r);
        r.rlim_cur = rlim_t(OpenFdCount() + 6);
        ::setrlimit(RLIMIT_NOFILE, &r);
        const int port = server.Listener(0).BoundPort;
        ::write(toParent[1], &port, sizeof port);
        char go;
        ::read(toChild[0], &go, 1); // the parent's clients are all connected
        std::this_thread::sleep_for(1s);
        const uint64_t pauses = server.AcceptPauses();
        const int clients = server.Clients();
        ::write(toParent[1], &clients, sizeof clients);
        ::read(toChild[0], &go, 1); // the parent closed them
        r.rlim_cur = r.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &r);
        ::read(toChild[0], &go, 1); // the parent was answered again
        server.Stop();
        ::_exit(pauses >= 1 && pauses <= 15 ? 0 : 20);
    }
    int port = 0, clients = 0;
    ASSERT_EQ(::read(toParent[0], &port, sizeof port), ssize_t(sizeof port));
    std::vector<std::unique_ptr<RawClient>> many;
    for (int i = 0; i < 20; ++i)
        many.push_back(std::make_unique<RawClient>(port)); // the backlog takes them all
    ::write(toChild[1], "g", 1);
    ASSERT_EQ(::read(toParent[0], &clients, sizeof clients), ssize_t(sizeof clients));
    EXPECT_GT(clients, 0);
    EXPECT_LT(clients, 20); // the rest wait in the backlog
    many.clear();
    ::write(toChild[1], "g", 1);
    // Descriptors are back: a new client is taken and answered.
    RawClient late(port);
    EXPECT_TRUE(late.Send(hex("00 01 00 00 00 06 01 03 00 00 00 01")));
    EXPECT_EQ(late.Read(11).size(), 11u);
    ::write(toChild[1], "g", 1);
    int status = -1;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    for (int fd : {toChild[0], toChild[1], toParent[0], toParent[1]})
        ::close(fd);
}

} // namespace
} // namespace quorlin::test
