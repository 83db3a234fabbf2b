// SPDX-License-Identifier: MIT
#include "ui/adapternotice.h"

#include "serial/commint.h"

namespace quorlin
{

TAdapterNotice::TAdapterNotice(TCustomComm &Comm, QWidget &Window)
    : QObject(&Window), m_comm(Comm), m_window(Window)
{
    connect(&Comm, &TCustomComm::ConnectionChanged, this, &TAdapterNotice::changed);
    connect(&Comm, &TCustomComm::AdapterChanged, this, &TAdapterNotice::changed);
}

void TAdapterNotice::changed()
{
    if (!m_comm.IsOpen() || !m_comm.Rs485Error())
        return;
    const std::string message = m_comm.Rs485Error().Message;
    if (!m_told.insert(message).second)
        return;
    const QString text =
        QStringLiteral("%1.\n\nThe port stays open, but an RS-485 transceiver that the kernel "
                       "does not switch keeps our replies off the bus. Use an adapter that "
                       "switches by itself, or turn RS-485 off in Configuration > Adapter.")
            .arg(QString::fromStdString(message));
    if (m_box)
        m_box->close();
    m_box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Serial port"), text,
                            QMessageBox::Ok, &m_window);
    m_box->setObjectName(QStringLiteral("AdapterNotice"));
    m_box->setAttribute(Qt::WA_DeleteOnClose);
    m_box->setModal(false);
    m_box->show();
}

} // namespace quorlin
