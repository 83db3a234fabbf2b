// SPDX-License-Identifier: MIT
// The adapter's keys of [SerialSettings] through a whole load and save: a
// profile that turns nothing on keeps exactly the keys it had.
#include "tests/profile/profilefixture.h"

namespace quorlin::test
{
namespace
{

struct AdapterRow {
    const char *name;
    const char *file;                      // the [SerialSettings] lines loaded
    void (*choose)(TSerialValues &Values); // what the dialog changes before saving
    const char *saved;                     // adapter keys saved, "Key=Value;" in file order
};

class ProfileAdapter : public ProfileTest, public ::testing::WithParamInterface<AdapterRow>
{
};

TEST_P(ProfileAdapter, LoadsAndSavesBack)
{
    load(std::string("[SerialSettings]\nMBid=1\n") + GetParam().file + "[Scripts]\nCount=0\n");
    m_host.Dialog = m_manager->SerialValues;
    if (GetParam().choose)
        GetParam().choose(m_host.Dialog);
    m_manager->SaveProfile1Click();
    const auto doc = TIniDocument::Parse(contents(path("p.QRL")));
    std::string saved;
    for (const char *key : {"RS485", "RS485RtsOnSend", "RS485RtsAfterSend", "RS485DelayBefore",
                            "RS485DelayAfter", "IgnoreEcho"})
        if (const auto v = doc.Value("SerialSettings", key))
            saved += std::string(key) + "=" + *v + ";";
    EXPECT_EQ(saved, GetParam().saved);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ProfileAdapter,
    ::testing::Values(
        AdapterRow{"AbsentStaysAbsent", "", nullptr, ""},
        AdapterRow{"Rs485ChosenWritesOnlyWhatDiffers", "",
                   [](TSerialValues &v) {
                       v.Rs485 = true;
                       v.Rs485DelayAfter = 3;
                   },
                   "RS485=1;RS485DelayAfter=3;"},
        AdapterRow{"InvertedRtsAndEcho", "",
                   [](TSerialValues &v) {
                       v.Rs485 = true;
                       v.Rs485RtsOnSend = false;
                       v.Rs485RtsAfterSend = true;
                       v.IgnoreEcho = true;
                   },
                   "RS485=1;RS485RtsOnSend=0;RS485RtsAfterSend=1;IgnoreEcho=1;"},
        AdapterRow{"LoadedKeysKept", "RS485=1\nRS485DelayBefore=4\nIgnoreEcho=1\n", nullptr,
                   "RS485=1;RS485DelayBefore=4;IgnoreEcho=1;"},
        // Turned off again: the keys stay, saying off, so none outlives its choice.
        AdapterRow{"TurnedOffKeepsTheKeysAsOff", "RS485=1\nIgnoreEcho=1\n",
                   [](TSerialValues &v) {
                       v.Rs485 = false;
                       v.IgnoreEcho = false;
                   },
                   "RS485=0;IgnoreEcho=0;"},
        // Out of range or no number: held to what the driver is ever asked.
        AdapterRow{"DelaysHeldToTheirRange", "RS485=1\nRS485DelayBefore=5000\nRS485DelayAfter=-7\n",
                   nullptr, "RS485=1;RS485DelayBefore=100;RS485DelayAfter=0;"},
        AdapterRow{"GarbageIsOff", "RS485=yes\nIgnoreEcho=x\n", nullptr, "RS485=0;IgnoreEcho=0;"}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace
} // namespace quorlin::test
