// SPDX-License-Identifier: MIT
// Two emulated slaves, the first one selected, for the register table and
// the values files.
#pragma once

#include "registers/registersource.h"

namespace quorlin::test
{

class FakeSource : public IRegisterSource
{
  public:
    FakeSource()
    {
        Images[0].MBid = 1;
        Images[1].MBid = 7;
    }
    int SelectedSlave() const override { return Images[Selected].MBid; }
    TRegisterImage &SelectedImage() override { return Images[Selected]; }
    const TRegisterTables &SelectedTables() const override { return Images[Selected]; }
    std::vector<TSlaveImage> Slaves() const override
    {
        return {{Images[0].MBid, &Images[0]}, {Images[1].MBid, &Images[1]}};
    }
    TRegisterImage *SlaveImage(int Id) override
    {
        for (TRegisterImage &im : Images)
            if (im.MBid == Id)
                return &im;
        return nullptr;
    }
    std::vector<std::pair<TRegisterRef, std::string>> SelectedScripts() const override
    {
        return Scripts;
    }

    TSlaveDisplay *SelectedDisplay() override
    {
        return WithDisplays ? &Displays[Selected] : nullptr;
    }

    TRegisterImage Images[2];
    TSlaveDisplay Displays[2];
    bool WithDisplays = false; // else the model keeps its own
    int Selected = 0;
    std::vector<std::pair<TRegisterRef, std::string>> Scripts;
};

} // namespace quorlin::test
