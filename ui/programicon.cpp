// SPDX-License-Identifier: MIT
#include "ui/programicon.h"

#include <QString>

namespace quorlin
{

QIcon ProgramIcon()
{
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/org.quorlin.Quorlin-%1.png").arg(size),
                     QSize(size, size));
    return icon;
}

} // namespace quorlin
