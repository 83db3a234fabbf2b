// SPDX-License-Identifier: MIT
// A device that goes away and comes back behind the same name, as a USB
// adapter does when it is re-plugged or a socat pair when it is restarted:
// here a symbolic link that is moved from one pty pair to the next.
#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>

#include <filesystem>

#include "serial/commint.h"
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

} // namespace
