// SPDX-License-Identifier: MIT
// The port and speed choices through a whole round: a profile file opened,
// put into the real Configuration dialog, maybe changed there, and saved.
// A profile that uses neither a device nor a new speed comes back byte for
// byte as today's program wrote it.
#include <QComboBox>

#include "serial/ui/configunit.h"
#include "tests/profile/profilefixture.h"

namespace quorlin::test
{
namespace
{

// The serial values go through a real dialog instead of a plain copy.
class DialogHost : public FakeHost
{
  public:
    DialogHost()
    {
        Form.DeviceList = [] { return std::vector<std::string>{}; };
    }
    void LoadSerialDialog(const TSerialValues &Values) override { Form.LoadSerialDialog(Values); }
    TSerialValues ReadSerialDialog() const override { return Form.SerialValues(); }
    TConfForm Form;
};

const std::string Serial = "[SerialSettings]\nMBid=1\nSerialPort=2\nBaudRate=5\nDataBits=4\n"
                           "StopBits=0\nParity=0\nHandshaking=1\n";
const std::string Scripts = "[Scripts]\nCount=0\n";

std::string withKey(std::string Text, const std::string &Key, const std::string &Value)
{
    const std::string from = "\n" + Key + "=";
    const std::size_t at = Text.find(from);
    const std::size_t end = Text.find('\n', at + 1);
    return Text.replace(at + from.size(), end - at - from.size(), Value);
}

struct RoundRow {
    const char *Name;
    std::string Before;
    std::function<void(TConfForm &)> Change; // what the user does in the dialog, if anything
    std::string After;                       // the file after Save
};

class DeviceKeyRounds : public ::testing::TestWithParam<RoundRow>
{
};

TEST_P(DeviceKeyRounds, OpenChangeSave)
{
    QTemporaryDir dir;
    DialogHost host;
    FakeDialogs dialogs;
    TProfileManager manager(host, dialogs, dir.path());
    const QString file = dir.filePath(QStringLiteral("p.QRL"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(GetParam().Before.data(), qint64(GetParam().Before.size()));
    }
    ASSERT_TRUE(manager.LoadProfile(file));
    host.LoadSerialDialog(manager.SerialValues);
    if (GetParam().Change)
        GetParam().Change(host.Form);
    manager.SaveProfile1Click();
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll().toStdString(), GetParam().After);
}

void chooseDevice(TConfForm &Form)
{
    Form.ComboBox1->setEditText(QStringLiteral("/tmp/quorlin-slave"));
}
void chooseCom3(TConfForm &Form)
{
    Form.ComboBox1->setCurrentIndex(2);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DeviceKeyRounds,
    ::testing::Values(
        RoundRow{"todays_profile_unchanged", Serial + Scripts, nullptr, Serial + Scripts},
        RoundRow{"todays_profile_with_other_com", withKey(Serial, "SerialPort", "4") + Scripts,
                 nullptr, withKey(Serial, "SerialPort", "4") + Scripts},
        RoundRow{"speed_115200_kept", withKey(Serial, "BaudRate", "9") + Scripts, nullptr,
                 withKey(Serial, "BaudRate", "9") + Scripts},
        RoundRow{"unknown_speed_as_today", withKey(Serial, "BaudRate", "11") + Scripts, nullptr,
                 withKey(Serial, "BaudRate", "-1") + Scripts},
        RoundRow{"device_chosen_goes_after_handshaking", Serial + Scripts, chooseDevice,
                 Serial + "Device=/tmp/quorlin-slave\n" + Scripts},
        RoundRow{"device_kept", Serial + "Device=/dev/ttyUSB0\n" + Scripts, nullptr,
                 Serial + "Device=/dev/ttyUSB0\n" + Scripts},
        RoundRow{"com_chosen_again_empties_device", Serial + "Device=/dev/ttyUSB0\n" + Scripts,
                 chooseCom3, withKey(Serial, "SerialPort", "3") + "Device=\n" + Scripts},
        RoundRow{"empty_device_loads_as_com",
                 withKey(Serial, "SerialPort", "1") + "Device=\n" + Scripts, nullptr,
                 withKey(Serial, "SerialPort", "1") + "Device=\n" + Scripts}),
    [](const auto &Info) { return std::string(Info.param.Name); });

} // namespace
} // namespace quorlin::test
