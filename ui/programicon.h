// SPDX-License-Identifier: MIT
// The program's icon for the title bar and the task bar, from the PNGs built
// into the program (the same ones the installation puts in the icon theme).
#pragma once

#include <QIcon>

namespace quorlin
{

QIcon ProgramIcon();

} // namespace quorlin
