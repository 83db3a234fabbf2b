// SPDX-License-Identifier: MIT
// A device that goes away and comes back behind the same name, as a USB
// adapter does when it is re-plugged or a socat pair when it is restarted:
// here a symbolic link that is moved from one pty pair to the next.
#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>

#include <filesystem>

#include "engine/crc16.h"
#include "engine/deadline.h"
#include "engine/modbusslave.h"
#include "serial/commint.h"
#include "serial/lineengine.h"
#include "tests/serial/commfixture.h"

using namespace quorlin;
using quorlin::testing::PtyPair;
namespace fs = std::filesystem;

namespace
{

class Reconnect : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/quorlin-reconnect-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_link = m_dir + "/quorlin-slave";
        comm.SetDeviceName(m_link);
        comm.SetMonitorEvents(commEvents({evRxChar}));
        comm.SetRetryInterval(1000);
        QObject::connect(&comm, &TCustomComm::ConnectionChanged, [this] { ++changes; });
        comm.OnRxChar = [this](TCustomComm *Sender, int Count) {
            std::vector<uint8_t> buf(static_cast<size_t>(Count));
            received += Sender->Read(buf.data(), Count);
        };
    }
    void TearDown() override
    {
        comm.Close();
        EXPECT_TRUE(quorlin::testing::watchersEnded());
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    void linkTo(const PtyPair &Pty)
    {
        std::error_code ec;
        fs::remove(m_link, ec);
        fs::create_symlink(Pty.path(), m_link);
    }
    // Bytes from the far end reach the handler.
    bool answers(const PtyPair &Pty)
    {
        const int before = received;
        return Pty.send({0x01, 0x02}) &&
               QTest::qWaitFor([&] { return received >= before + 2; }, 2000);
    }

    std::string m_dir, m_link;
    TComm comm;
    int changes = 0;
    int received = 0;
};

TEST_F(Reconnect, NameLeadingToAnotherDeviceCountsAsRemovedWithoutAHangUp)
{
    PtyPair first, second;
    ASSERT_TRUE(first.ok() && second.ok());
    linkTo(first);
    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    linkTo(second); // the first device stays alive: no hang-up to see
    ASSERT_TRUE(QTest::qWaitFor([&] { return !comm.IsOpen(); }, 3000));
    EXPECT_EQ(comm.CloseReason(), m_link + ": device removed");
    ASSERT_TRUE(QTest::qWaitFor([&] { return comm.IsOpen(); }, 3000));
    EXPECT_TRUE(answers(second));
}

TEST_F(Reconnect, MissingDeviceIsRetriedUntilCloseAndNoIntervalMeansNone)
{
    comm.Open();
    EXPECT_EQ(changes, 1) << "a failed open is a change to report too";
    EXPECT_FALSE(comm.LastOpenWasRetry());
    EXPECT_EQ(comm.CloseReason(), "cannot open " + m_link + ": No such file or directory");
    ASSERT_TRUE(comm.Retrying());
    comm.Close();
    EXPECT_FALSE(comm.Retrying());

    comm.SetRetryInterval(0);
    comm.Open();
    EXPECT_FALSE(comm.IsOpen());
    EXPECT_FALSE(comm.Retrying());
}

std::vector<uint8_t> withCrc(std::vector<uint8_t> Frame)
{
    const uint16_t c = Crc16(Frame.data(), Frame.size());
    Frame.push_back(uint8_t(c));
    Frame.push_back(uint8_t(c >> 8));
    return Frame;
}

TEST_F(Reconnect, ReplyHeldForALostPortNeverReachesTheNextOne)
{
    TRegisterImage image;
    image.ClearImage();
    image.MBid = 1;
    TDeadline timeOut{100}, reply{0};
    TModbusSlave engine{image, comm, timeOut};
    TLineEngine line{engine, comm, timeOut, reply};
    TFaultSettings faults;
    faults.Enabled = 1;
    faults.DelayMs = 1500;
    engine.Faults().Load(faults);
    comm.OnRxChar = nullptr;
    comm.SetLineHandler(&line);
    struct Unhook {
        TComm &Comm;
        ~Unhook()
        {
            Comm.Close();
            Comm.SetLineHandler(nullptr);
        }
    } unhook{comm};

    PtyPair first, second;
    ASSERT_TRUE(first.ok() && second.ok());
    linkTo(first);
    comm.Open();
    ASSERT_TRUE(comm.IsOpen());
    const std::vector<uint8_t> read = withCrc({0x01, 0x03, 0x00, 0x00, 0x00, 0x01});
    const auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(first.send(read));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto hold = comm.HoldLine();
            return engine.ReplyPending();
        },
        1000));
    // Unplugged while the reply is held back, and back behind the same name.
    linkTo(second);
    first.closeMaster();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !comm.IsOpen(); }, 3000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return comm.IsOpen(); }, 3000));
    // Well past the end of the old delay: nothing of it on the new line.
    QTest::qWait(int(std::chrono::duration_cast<std::chrono::milliseconds>(
                         sent + std::chrono::milliseconds(2000) - std::chrono::steady_clock::now())
                         .count()));
    EXPECT_TRUE(second.receive(1, 50).empty());
    // A request on the new line is answered, once, after its own delay.
    ASSERT_TRUE(second.send(read));
    EXPECT_EQ(second.receive(7, 4000), withCrc({0x01, 0x03, 0x02, 0x00, 0x00}));
    EXPECT_TRUE(second.receive(1, 100).empty());
}

} // namespace
