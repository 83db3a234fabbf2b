// SPDX-License-Identifier: MIT
#include "ui/permissionnotice.h"

#include <QMessageBox>

#include "platform/portaccess.h"
#include "serial/commint.h"

namespace quorlin
{

TPermissionNotice::TPermissionNotice(TCustomComm &Comm, QWidget &Window)
    : QObject(&Window), m_comm(Comm), m_window(Window)
{
    connect(&Comm, &TCustomComm::ConnectionChanged, this, &TPermissionNotice::changed);
}

void TPermissionNotice::changed()
{
    if (m_comm.IsOpen() || !IsPermissionError(m_comm.LastOpenError().Code))
        return;
    const std::string device = m_comm.DevicePath();
    if (!m_told.insert(device).second)
        return;
    const QString group = QString::fromStdString(DeviceGroup(device));
    const QString text =
        QStringLiteral("Quorlin may not open %1 (%2): permission denied.\n\n"
                       "To use serial ports, %3.")
            .arg(QString::fromStdString(m_comm.DeviceName()), QString::fromStdString(device),
                 QString::fromStdString(PermissionAdvice(group.toStdString())));
    if (m_box)
        m_box->close();
    m_box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Serial port"), text,
                            QMessageBox::Ok, &m_window);
    m_box->setObjectName(QStringLiteral("PermissionNotice"));
    m_box->setAttribute(Qt::WA_DeleteOnClose);
    m_box->setModal(false);
    m_box->show();
}

} // namespace quorlin
