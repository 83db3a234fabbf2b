// SPDX-License-Identifier: MIT
// What the register table and the values files see of the program: the
// emulated slaves, the one the user has selected, and the script bindings.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "engine/registercsv.h"
#include "engine/registerimage.h"
#include "registers/slavedisplay.h"

namespace quorlin
{

class IRegisterSource
{
  public:
    virtual ~IRegisterSource() = default;
    // The slave the main window has selected; its image is never null.
    virtual int SelectedSlave() const = 0;
    // The selected slave's image: where writes are queued. Its tables belong
    // to the engine; what is shown is read from SelectedTables.
    virtual TRegisterImage &SelectedImage() = 0;
    // The selected slave's tables as the tick last copied them.
    virtual const TRegisterTables &SelectedTables() const = 0;
    // Every emulated slave, in the order the main window lists them, with a
    // copy of its tables that stays as it is until the next call.
    virtual std::vector<TSlaveImage> Slaves() const = 0;
    // The image of an emulated slave, or null.
    virtual TRegisterImage *SlaveImage(int Id) = 0;
    // The registers of the selected slave that scripts drive, with the
    // scripts' names, in binding order.
    virtual std::vector<std::pair<TRegisterRef, std::string>> SelectedScripts() const = 0;
    // The selected slave's map and row formats; null when the program keeps
    // none, and the table then keeps its own.
    virtual TSlaveDisplay *SelectedDisplay() { return nullptr; }
};

} // namespace quorlin
