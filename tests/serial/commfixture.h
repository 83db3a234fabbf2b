// SPDX-License-Identifier: MIT
// The serial device on a pty pair, behind the counting system-call seam and
// watching received characters only; a test ends once its watcher has ended.
#pragma once

#include <gtest/gtest.h>

#include <QtCore/qtestsupport_core.h>
#include <sys/ioctl.h>

#include "serial/commeventthread.h"
#include "serial/commint.h"
#include "tests/serial/countingsysapi.h"
#include "tests/serial/ptypair.h"

namespace quorlin::testing
{

// Bytes waiting in a terminal's input queue; -1 when it cannot be asked.
inline int queued(int Fd)
{
    int n = -1;
    ::ioctl(Fd, FIONREAD, &n);
    return n;
}

// True once every watcher thread of the process has ended.
inline bool watchersEnded()
{
    return QTest::qWaitFor([] { return TCommEventThread::Running() == 0; }, 5000);
}

class CommFixture : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(pty.ok());
        comm.SetSysApi(api);
        comm.SetDeviceName(pty.path());
        comm.SetMonitorEvents(commEvents({evRxChar}));
    }
    void TearDown() override
    {
        api.setHook(nullptr); // a test's hook may refer to its body's locals
        comm.Close();
        // The watcher uses this test's system-call seam until it has ended.
        EXPECT_TRUE(watchersEnded());
    }

    PtyPair pty;
    CountingSysApi api;
    TComm comm;
};

} // namespace quorlin::testing
