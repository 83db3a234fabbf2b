// SPDX-License-Identifier: MIT
#include "serial/ui/connectionreport.h"

#include <QWidget>
#include <cstdio>

#include "serial/commint.h"

namespace quorlin
{

QString ConnectionCaption(const QString &TitleText, const TCustomComm &Comm)
{
    const QString name = QString::fromStdString(Comm.DeviceName());
    if (Comm.IsOpen())
        return TitleText + QStringLiteral(" - Connected to ") + name;
    return TitleText + QStringLiteral(" - Disconnected (") + name + QStringLiteral(")");
}

TConnectionReport::TConnectionReport(TCustomComm &Comm, QWidget &Window,
                                     std::function<QString()> TitleText, TSink Sink)
    : QObject(&Window), m_comm(Comm), m_window(Window), m_titleText(std::move(TitleText)),
      m_sink(std::move(Sink))
{
    if (!m_sink)
        m_sink = [](const std::string &Line) {
            std::fprintf(stderr, "quorlin: %s\n", Line.c_str());
        };
    connect(&Comm, &TCustomComm::ConnectionChanged, this, &TConnectionReport::changed);
}

void TConnectionReport::changed()
{
    m_window.setWindowTitle(ConnectionCaption(m_titleText(), m_comm));
    if (m_comm.IsOpen()) {
        // Only a port that was reported missing is reported back.
        if (!m_lastSaid.empty())
            m_sink("connected to " + m_comm.PortLabel());
        m_lastSaid.clear();
        return;
    }
    // Every attempt someone asked for says why it failed; the retries once a
    // second say so only when the reason changes, so a missing adapter does
    // not fill the terminal.
    const std::string reason = m_comm.CloseReason();
    if (!m_comm.LastOpenWasRetry() || reason != m_lastSaid)
        m_sink(reason);
    m_lastSaid = reason;
}

} // namespace quorlin
