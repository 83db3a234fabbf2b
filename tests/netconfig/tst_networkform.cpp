// SPDX-License-Identifier: MIT
// The Network dialog: a new listener's safe proposal, the rows as OK hands
// them back, and an address that is no IP literal refused.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTableWidget>

#include "netconfig/networkform.h"

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

} // namespace
} // namespace quorlin::test
