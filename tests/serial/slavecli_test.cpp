// SPDX-License-Identifier: MIT
// quorlin-slave run as a program of its own. Starting a child from a test
// that has threads stops ThreadSanitizer's runtime, so this is not in the
// adapter's tsan-labelled test.
#include <gtest/gtest.h>

#include <QProcess>

#include <cstdlib>
#include <string>

#include "tests/serial/ptypair.h"

namespace
{

TEST(QuorlinSlaveRs485, RefusedByTheAdapterEndsWithTheReason)
{
    quorlin::testing::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    const char *build = std::getenv("QUORLIN_BUILD_DIR");
    QProcess slave;
    slave.setProgram(QString::fromUtf8(build ? build : ".") + "/quorlin-slave");
    // A pty has no RS-485: the real kernel refuses it.
    slave.setArguments(
        {"--rs485", "--rs485-delay-before", "3", QString::fromStdString(pty.path())});
    slave.start();
    ASSERT_TRUE(slave.waitForStarted(5000)) << slave.errorString().toStdString();
    ASSERT_TRUE(slave.waitForFinished(10000));
    EXPECT_EQ(slave.exitCode(), 1);
    const std::string err = slave.readAllStandardError().toStdString();
    EXPECT_NE(err.find("cannot switch " + pty.path() +
                       " to RS-485: the adapter's driver does not "
                       "offer it"),
              std::string::npos)
        << err;
    EXPECT_TRUE(slave.readAllStandardOutput().isEmpty()) << "never said to be ready";
}

} // namespace
