// SPDX-License-Identifier: MIT
// What the main window does with the network: the listeners of the profile
// and of the command line started together, their frames handed to the
// traffic recorder at each tick, their state in the status bar, and
// Settings > Network... . The main window keeps only calls into this.
#pragma once

#include <QObject>
#include <memory>
#include <string>
#include <vector>

#include "engine/listenerconfig.h"
#include "net/netserver.h"

class QLabel;
class QStatusBar;
class QWidget;

namespace quorlin
{

class TNetworkForm;
class TTrafficRecorder;

class TNetworkCommands : public QObject
{
    Q_OBJECT
  public:
    // The server answers as Slaves with Faults (both the serial line's too).
    TNetworkCommands(TSlaveSet &Slaves, TFaultPlan &Faults, QStatusBar &Bar, QWidget &Window);
    ~TNetworkCommands() override;

    // The command line's listeners and --no-serial, which run beside the
    // profile's and are never saved into it.
    void SetExtra(const std::vector<TListenerConfig> &Listeners, bool NoSerial);
    // The profile's listeners in place of the ones running: those that stay
    // exactly as they are keep running with their clients.
    void Apply(const TNetworkSettings &Profile);
    // The serial port is left alone (the profile's choice or --no-serial).
    bool NoSerial() const { return m_profile.NoSerial || m_extraNoSerial; }
    // Every connection and listener closed, the thread stopped.
    void Stop();
    // Frames to Recorder, the status bar brought up to date.
    void Tick(TTrafficRecorder &Recorder);
    // Settings > Network...: true when the user changed Profile.
    bool Edit(TNetworkSettings &Profile);

    TNetServer &Server() { return m_server; }
    QLabel *Status = nullptr; // the listeners and their clients; hidden without listeners
    TNetworkForm *Form = nullptr;

  private:
    void updateStatus();

    TNetServer m_server;
    QStatusBar &m_bar;
    QWidget &m_window;
    TNetworkSettings m_profile;
    std::vector<TListenerConfig> m_extra;
    bool m_extraNoSerial = false;
};

} // namespace quorlin
