// SPDX-License-Identifier: MIT
// The Network dialog: a new listener's safe proposal, the rows as OK hands
// them back, an address that is no IP literal refused, and OK applied to the
// running listeners without dropping the clients of one left as it was.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTimer>

#include "netconfig/networkcommands.h"
#include "netconfig/networkform.h"
#include "tests/engine/fakes.h"
#include "tests/net/netclient.h"

namespace quorlin::test
{
namespace
{

TEST(NetworkForm, RowsRoundTripAndANewOneProposesThisMachineOnly)
{
    TNetworkForm form;
    TNetworkSettings s;
    s.NoSerial = true;
    s.Listeners.push_back({TStreamKind::RtuOverTcp, "::", 4001, 300, 17, false});
    form.LoadSettings(s);
    EXPECT_EQ(form.Settings(), s);

    form.AddClicked();
    TNetworkSettings want = s;
    want.Listeners.push_back({TStreamKind::ModbusTcp, "127.0.0.1", 1502, 64, 0, true});
    EXPECT_EQ(form.Settings(), want);

    form.ListenersView->setCurrentCell(0, 0);
    form.RemoveClicked();
    want.Listeners.erase(want.Listeners.begin());
    EXPECT_EQ(form.Settings(), want);
}

TEST(NetworkForm, OkRefusesAnAddressThatIsNoIpLiteral)
{
    TNetworkForm form;
    form.LoadSettings({});
    form.AddClicked();
    auto *address =
        qobject_cast<QLineEdit *>(form.ListenersView->cellWidget(0, TNetworkForm::ColAddress));
    ASSERT_NE(address, nullptr);
    address->setText(QStringLiteral("plc.local"));
    form.accept();
    EXPECT_NE(form.result(), QDialog::Accepted);
    EXPECT_TRUE(form.ProblemLabel->text().contains(QStringLiteral("Row 1")));
    address->setText(QStringLiteral("0.0.0.0"));
    form.accept();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(form.Settings().Listeners.at(0).Address, "0.0.0.0");
}

TEST(NetworkForm, StateColumnShowsWhatTheListenersDo)
{
    TNetworkForm form;
    form.StateSource = [] {
        return std::vector<std::string>{"cannot listen on 127.0.0.1:502: Permission denied"};
    };
    TNetworkSettings s;
    s.Listeners.resize(2);
    form.LoadSettings(s);
    EXPECT_EQ(form.ListenersView->item(0, TNetworkForm::ColState)->text(),
              QStringLiteral("cannot listen on 127.0.0.1:502: Permission denied"));
    EXPECT_TRUE(form.ListenersView->item(1, TNetworkForm::ColState)->text().isEmpty());
}

TEST(NetworkCommands, OkAddsAListenerAndTheRunningOneKeepsItsClient)
{
    TSlaveSet slaves;
    TFaultPlan faults;
    slaves.Find(1)->HoldingRegs[1] = 4321;
    QMainWindow window;
    TNetworkCommands network(slaves, faults, *window.statusBar(), window);
    TNetworkSettings profile;
    profile.Listeners.resize(1);
    profile.Listeners[0].Port = 0;
    network.Apply(profile);
    const int port = network.Server().Listener(0).BoundPort;
    ASSERT_GT(port, 0);
    RawClient client(port);
    const Bytes ask = hex("00 05 00 00 00 06 01 03 00 00 00 01");
    const Bytes answer = hex("00 05 00 00 00 05 01 03 02 10 E1");
    ASSERT_TRUE(client.Send(ask));
    ASSERT_EQ(toHex(client.Read(11)), toHex(answer));

    TNetworkSettings chosen = profile;
    chosen.Listeners.push_back(profile.Listeners[0]);
    chosen.Listeners[1].Kind = TStreamKind::RtuOverTcp;
    QTimer::singleShot(0, [&] {
        network.Form->LoadSettings(chosen);
        network.Form->accept();
    });
    ASSERT_TRUE(network.Edit(profile));
    EXPECT_EQ(profile, chosen);
    ASSERT_EQ(network.Server().ListenerCount(), 2);
    EXPECT_TRUE(network.Server().Listener(1).Listening());
    EXPECT_EQ(network.Server().Listener(0).BoundPort, port);
    ASSERT_TRUE(client.Send(ask));
    EXPECT_EQ(toHex(client.Read(11)), toHex(answer));
}

} // namespace
} // namespace quorlin::test
