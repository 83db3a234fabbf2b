// SPDX-License-Identifier: MIT
#include "netconfig/networkcommands.h"

#include <QLabel>
#include <QStatusBar>
#include <cstdio>

#include "monitor/traffic.h"
#include "netconfig/networkform.h"

namespace quorlin
{

TNetworkCommands::TNetworkCommands(TSlaveSet &Slaves, TFaultPlan &Faults, QStatusBar &Bar,
                                   QWidget &Window)
    : QObject(&Window), m_server(Slaves, Faults), m_bar(Bar), m_window(Window)
{
    Status = new QLabel(&Bar);
    Status->setObjectName(QStringLiteral("NetworkStatus"));
    Status->hide();
    Bar.addPermanentWidget(Status);
}

TNetworkCommands::~TNetworkCommands()
{
    Stop();
}

void TNetworkCommands::SetExtra(const std::vector<TListenerConfig> &Listeners, bool NoSerial)
{
    m_extra = Listeners;
    m_extraNoSerial = NoSerial;
}

void TNetworkCommands::Apply(const TNetworkSettings &Profile)
{
    m_profile = Profile;
    std::vector<TListenerConfig> all = Profile.Listeners;
    all.insert(all.end(), m_extra.begin(), m_extra.end());
    if (all.empty() && !m_server.Running() && m_server.ListenerCount() == 0) {
        updateStatus();
        return; // nothing asked for, nothing running: no thread, no socket
    }
    // Listeners that stay as they are keep their clients.
    if (!m_server.Update(all)) {
        // A port that does not open says why, as a serial port that does not.
        for (int i = 0; i < m_server.ListenerCount(); ++i)
            if (!m_server.Listener(i).Error.empty())
                std::fprintf(stderr, "quorlin: %s\n", m_server.Listener(i).Error.c_str());
    }
    updateStatus();
}

void TNetworkCommands::Stop()
{
    m_server.Stop();
}

void TNetworkCommands::Tick(TTrafficRecorder &Recorder)
{
    if (m_server.ListenerCount() == 0)
        return;
    Recorder.Take(m_server.Frames());
    updateStatus();
    if (Form && Form->isVisible())
        Form->RefreshState();
}

void TNetworkCommands::updateStatus()
{
    const QString text = QString::fromStdString(ListenersStatusText(m_server));
    bool failed = false;
    for (int i = 0; i < m_server.ListenerCount(); ++i)
        failed = failed || !m_server.Listener(i).Error.empty();
    if (Status->text() != text) {
        Status->setText(text);
        Status->setToolTip(text);
        Status->setStyleSheet(failed ? QStringLiteral("QLabel { color: #c00000; }") : QString());
    }
    Status->setVisible(!text.isEmpty());
}

bool TNetworkCommands::Edit(TNetworkSettings &Profile)
{
    if (!Form) {
        Form = new TNetworkForm(&m_window);
        // The rows are the profile's listeners, the first ones the server runs.
        Form->StateSource = [this] {
            std::vector<std::string> states;
            const size_t rows = m_profile.Listeners.size();
            for (int i = 0; i < m_server.ListenerCount() && size_t(i) < rows; ++i) {
                const TListenerState &l = m_server.Listener(i);
                if (!l.Config.Enabled)
                    states.emplace_back("off");
                else if (!l.Listening())
                    states.push_back(l.Error);
                else
                    states.push_back("listening on port " + std::to_string(l.BoundPort) + ", " +
                                     std::to_string(l.Clients.load()) + " clients");
            }
            return states;
        };
    }
    Form->LoadSettings(Profile);
    if (Form->exec() != QDialog::Accepted)
        return false;
    const TNetworkSettings chosen = Form->Settings();
    if (chosen == Profile)
        return false;
    Profile = chosen;
    Apply(chosen);
    return true;
}

} // namespace quorlin
