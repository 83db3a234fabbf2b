// SPDX-License-Identifier: MIT
// The hand-over is served by every event loop of the user-interface thread:
// received bytes reach OnRxChar while a modal dialog runs its own loop.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QThread>
#include <QTimer>
#include <QtCore/qtestsupport_core.h>

#include "serial/commint.h"
#include "tests/serial/commfixture.h"

using namespace quorlin;
using quorlin::testing::PtyPair;

TEST(ModalLoop, EveryBurstReachesRxCharWhileADialogIsModal)
{
    PtyPair pty;
    ASSERT_TRUE(pty.ok());
    QDialog dialog;
    std::vector<uint8_t> sent, received;
    std::vector<bool> duringModal;
    int bursts = 0;
    auto sendBurst = [&] {
        std::vector<uint8_t> bytes = {uint8_t(bursts), 0x03, 0x00, 0x00, 0x00, 0x0A};
        sent.insert(sent.end(), bytes.begin(), bytes.end());
        EXPECT_TRUE(pty.send(bytes));
    };
    {
        TComm comm;
        comm.SetDeviceName(pty.path());
        comm.SetMonitorEvents(commEvents({evRxChar}));
        comm.OnRxChar = [&](TCustomComm *Sender, int Count) {
            EXPECT_EQ(QThread::currentThread(), QCoreApplication::instance()->thread());
            duringModal.push_back(QApplication::activeModalWidget() == &dialog);
            std::vector<uint8_t> buf(static_cast<size_t>(Count));
            ASSERT_EQ(Sender->Read(buf.data(), Count), Count);
            received.insert(received.end(), buf.begin(), buf.end());
            if (received.size() == sent.size()) {
                if (++bursts < 5)
                    sendBurst();
                else
                    dialog.accept();
            }
        };
        comm.Open();
        ASSERT_TRUE(comm.IsOpen()) << comm.LastOpenError().Message;

        QTimer::singleShot(0, &dialog, sendBurst);            // runs inside the dialog's loop
        QTimer::singleShot(10000, &dialog, &QDialog::reject); // only if deliveries stall
        EXPECT_EQ(dialog.exec(), QDialog::Accepted);
        comm.Close();
    }
    EXPECT_EQ(bursts, 5);
    EXPECT_EQ(received, sent);
    ASSERT_FALSE(duringModal.empty());
    for (bool modal : duringModal)
        EXPECT_TRUE(modal);
    EXPECT_TRUE(quorlin::testing::watchersEnded());
}
