// SPDX-License-Identifier: MIT
// The HTTP API of the running program: started by --api or by "Settings >
// Remote Control...", remembered in quorlin.ini (not in profiles), shown in
// the status bar while on. Lends the API what the main window owns, through
// the commands the window's own dialogs use.
#pragma once

#include <QObject>
#include <QString>

#include <memory>

#include "api/programapi.h"
#include "api/remotecontrolform.h"
#include "api/trafficfeed.h"

class QAction;
class QLabel;

namespace quorlin
{

class TApiServer;
class TMainForm;
struct TCommandLine;

class TRemoteControl : public QObject, public IApiHost
{
    Q_OBJECT
  public:
    explicit TRemoteControl(TMainForm &Form);
    ~TRemoteControl() override;

    // At start: the command line's --api, else quorlin.ini's choice. A
    // server that cannot start says why on standard error and in the status
    // bar; the emulator goes on without it.
    void Start(const TCommandLine &Options);
    // Stops serving; every request under way ends first.
    void Shutdown();
    bool Listening() const;
    const QString &State() const { return m_state; }
    const TRemoteSettings &Settings() const { return m_settings; }
    // Applies the settings (starting, restarting or stopping the server)
    // and keeps them in quorlin.ini.
    void Apply(const TRemoteSettings &Settings);

    QAction *RemoteControl1 = nullptr;  // Settings menu
    TRemoteControlForm *Form = nullptr; // made when first opened
    QLabel *StatusLabel = nullptr;
    void RemoteControl1Click();

    // From the main window's ticks.
    void AfterTick();
    void FeedRow(const TTrafficRow &Row) { m_feed.Append(Row); }
    void AfterTrafficTick() { m_feed.Notify(); }

    // --- IApiHost ---
    QObject *Context() override { return this; }
    TSlaveSet &Slaves() override;
    TApiStatus Status() override;
    void ResetCounters() override;
    TSlaveCommands &SlaveCommands() override;
    IRegisterSource &RegisterSource() override;
    TFaultSettings Faults() override;
    void SetFaults(const TFaultSettings &Faults) override;
    TFaultCounts FaultCounts() override;
    bool FailNext(const TFailNext &Order) override;
    TFailNext FailNextLeft() override;
    bool AcceptsBroadcast() override;

  private:
    bool startServer(const TRemoteSettings &Settings, QString &Error);
    void showState();
    void saveSettings();

    TMainForm &m_form;
    TTrafficFeed m_feed;
    TProgramApi m_api{*this, m_feed};
    std::unique_ptr<TApiServer> m_server;
    TRemoteSettings m_settings;
    QString m_state;
    QString m_tokenPath; // the token in use came from here
    QString m_endpoint;  // what the server listens on: "127.0.0.1:8502"
};

} // namespace quorlin
