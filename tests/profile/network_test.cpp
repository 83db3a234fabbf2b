// SPDX-License-Identifier: MIT
// The "Network" section through real files: what a load makes of it and
// hands to the listeners, and that a profile without listeners is saved as
// before, byte for byte.
#include "profile/networkformat.h"
#include "tests/profile/profilefixture.h"

namespace quorlin::test
{
namespace
{

const std::string Serial = "[SerialSettings]\nMBid=3\nSerialPort=2\nBaudRate=5\nDataBits=4\n"
                           "StopBits=0\nParity=0\nHandshaking=1\n[Scripts]\nCount=0\n";

const std::string TwoListeners =
    "[Network]\nListeners=2\nNoSerial=1\n"
    "Kind1=Modbus TCP\nAddress1=0.0.0.0\nPort1=1502\nMaxClients1=200\nDefaultId1=3\nEnabled1=1\n"
    "Kind2=RTU over TCP\nAddress2=::1\nPort2=4001\nMaxClients2=64\nDefaultId2=0\nEnabled2=0\n";

TNetworkSettings twoListeners()
{
    TNetworkSettings n;
    n.NoSerial = true;
    n.Listeners.push_back({TStreamKind::ModbusTcp, "0.0.0.0", 1502, 200, 3, true});
    n.Listeners.push_back({TStreamKind::RtuOverTcp, "::1", 4001, 64, 0, false});
    return n;
}

struct NetRow {
    const char *Name;
    std::string File;
    TNetworkSettings Loaded;
    std::string SavedBack;
};

class NetworkProfiles : public ProfileTest, public ::testing::WithParamInterface<NetRow>
{
};

TEST_P(NetworkProfiles, LoadStartsTheListenersAndSaveKeepsThem)
{
    load(GetParam().File);
    EXPECT_EQ(m_manager->Network, GetParam().Loaded);
    ASSERT_FALSE(m_host.AppliedNetworks.empty());
    EXPECT_EQ(m_host.AppliedNetworks.back(), GetParam().Loaded);
    m_host.LoadSerialDialog(m_manager->SerialValues);
    m_manager->SaveProfile1Click();
    EXPECT_EQ(contents(path("p.QRL")), GetParam().SavedBack);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, NetworkProfiles,
    ::testing::Values(
        NetRow{"WithoutTheSectionSavedByteForByte", Serial, {}, Serial},
        NetRow{"TwoListeners", Serial + TwoListeners, twoListeners(), Serial + TwoListeners},
        // A count beyond the listeners written, an unknown kind, a host name
        // and values out of range: what can be mended is, the rest left out.
        NetRow{
            "BadRowsLeftOutAndRangesMended",
            Serial + "[Network]\nListeners=4\nKind1=udp\nAddress1=127.0.0.1\nPort1=1\n"
                     "Kind2=tcp\nAddress2=plc.local\nPort2=2\n"
                     "Kind3=rtu\nPort3=99999\nMaxClients3=0\nDefaultId3=300\n",
            TNetworkSettings{{{TStreamKind::RtuOverTcp, "127.0.0.1", 65535, 1, 255, true}}, false},
            Serial + "[Network]\nListeners=1\nKind1=RTU over TCP\nAddress1=127.0.0.1\n"
                     "Port1=65535\nKind2=tcp\nAddress2=plc.local\nPort2=2\n"
                     "Kind3=rtu\nPort3=99999\nMaxClients3=0\nDefaultId3=300\nNoSerial=0\n"
                     "MaxClients1=1\nDefaultId1=255\nEnabled1=1\n"}),
    [](const auto &info) { return std::string(info.param.Name); });

TEST_F(ProfileTest, NewProfileHasNoListeners)
{
    load(Serial + TwoListeners);
    m_manager->NewProfile1Click();
    ASSERT_FALSE(m_host.AppliedNetworks.empty());
    EXPECT_EQ(m_host.AppliedNetworks.back(), TNetworkSettings{});
}

} // namespace
} // namespace quorlin::test
