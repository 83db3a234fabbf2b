// SPDX-License-Identifier: MIT
#include "ui/remotecontrol.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStatusBar>

#include <cstdio>

#include "api/apiserver.h"
#include "engine/modbusslave.h"
#include "net/netserver.h"
#include "netconfig/networkcommands.h"
#include "platform/inifile.h"
#include "profile/profilemanager.h"
#include "serial/commint.h"
#include "slaves/slavecommands.h"
#include "ui/commandline.h"
#include "ui/mainunit.h"
#include "ui/statustext.h"

namespace quorlin
{

namespace
{

constexpr const char *Section = "RemoteControl";

QString endpointText(const QString &Address, int Port)
{
    return (Address.contains(QLatin1Char(':')) ? QStringLiteral("[%1]").arg(Address) : Address) +
           QStringLiteral(":%1").arg(Port);
}

// The token of a file: its first line, without surrounding blanks.
bool readToken(const QString &Path, std::string &Token, QString &Error)
{
    QFile f(Path);
    if (!f.open(QIODevice::ReadOnly)) {
        Error = QStringLiteral("cannot read the API token file %1: %2").arg(Path, f.errorString());
        return false;
    }
    Token =
        QString::fromUtf8(f.read(4096)).section(QLatin1Char('\n'), 0, 0).trimmed().toStdString();
    if (Token.empty()) {
        Error = QStringLiteral("the API token file %1 is empty").arg(Path);
        return false;
    }
    return true;
}

// A new random token in a file only the user can read; its path, or empty.
QString generateToken(int Port, std::string &Token, QString &Error)
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    const QString path = QDir(dir).filePath(QStringLiteral("quorlin-api-%1.token").arg(Port));
    QFile::remove(path);
    QFile f(path);
    // Made private before the secret goes in.
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly) ||
        !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        Error = QStringLiteral("cannot write the API token file %1: %2").arg(path, f.errorString());
        return {};
    }
    Token.clear();
    for (int i = 0; i < 4; ++i)
        Token += QStringLiteral("%1")
                     .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'))
                     .toStdString();
    const QByteArray line = QByteArray::fromStdString(Token + "\n");
    if (f.write(line) != line.size() || !f.flush()) {
        Error = QStringLiteral("cannot write the API token file %1: %2").arg(path, f.errorString());
        return {};
    }
    return path;
}

} // namespace

TRemoteControl::TRemoteControl(TMainForm &Form) : QObject(&Form), m_form(Form)
{
    setObjectName(QStringLiteral("RemoteControl"));
    RemoteControl1 = new QAction(QStringLiteral("&Remote Control..."), Form.Settings1);
    RemoteControl1->setObjectName(QStringLiteral("RemoteControl1"));
    Form.Settings1->addAction(RemoteControl1);
    connect(RemoteControl1, &QAction::triggered, this, &TRemoteControl::RemoteControl1Click);
    StatusLabel = new QLabel(Form.statusBar());
    StatusLabel->setObjectName(QStringLiteral("ApiStatus"));
    StatusLabel->setVisible(false);
    Form.statusBar()->addPermanentWidget(StatusLabel);
}

TRemoteControl::~TRemoteControl()
{
    Shutdown();
}

void TRemoteControl::Shutdown()
{
    m_api.Stop();
    if (m_server)
        m_server->Stop();
    m_server.reset();
}

bool TRemoteControl::Listening() const
{
    return m_server && m_server->Running();
}

void TRemoteControl::Start(const TCommandLine &Options)
{
    const TIniFile ini(m_form.Profile().SettingsPath().toStdString());
    TRemoteSettings s;
    s.On = ini.ReadBool(Section, "On", false);
    s.Address = QString::fromStdString(ini.ReadString(Section, "Address", "127.0.0.1"));
    s.Port = ini.ReadInteger(Section, "Port", s.Port);
    s.TokenFile = QString::fromStdString(ini.ReadString(Section, "TokenFile", ""));
    if (!Options.Api.empty()) {
        std::string address, error;
        int port = 0;
        if (!ParseApiEndpoint(Options.Api, address, port, error)) {
            m_state = QString::fromStdString(error);
            std::fprintf(stderr, "quorlin: --api: %s\n", error.c_str());
            showState();
            return;
        }
        // What the command line asks for is this run's, not quorlin.ini's.
        m_settings = s;
        s = TRemoteSettings{true, QString::fromStdString(address), port,
                            QString::fromLocal8Bit(Options.ApiTokenFile.c_str())};
    } else {
        m_settings = s;
    }
    if (!s.On) {
        showState();
        return;
    }
    QString error;
    if (!startServer(s, error))
        std::fprintf(stderr, "quorlin: %s\n", qPrintable(error));
    showState();
}

bool TRemoteControl::startServer(const TRemoteSettings &S, QString &Error)
{
    Shutdown();
    m_api.Resume();
    TApiAccess access;
    const std::string address = S.Address.toStdString();
    access.Loopback = IsLoopbackListen(address);
    m_tokenPath.clear();
    if (!S.TokenFile.isEmpty()) {
        if (!readToken(S.TokenFile, access.Token, Error)) {
            m_state = Error;
            return false;
        }
        m_tokenPath = S.TokenFile;
    } else if (!access.Loopback) {
        // Off loopback nobody may call without the token.
        m_tokenPath = generateToken(S.Port, access.Token, Error);
        if (m_tokenPath.isEmpty()) {
            m_state = Error;
            return false;
        }
        std::fprintf(stderr, "quorlin: the API token is in %s\n", qPrintable(m_tokenPath));
    }
    m_server = std::make_unique<TApiServer>(m_api, access);
    std::string why;
    if (!m_server->Start(address, S.Port, why)) {
        m_server.reset();
        Error = QString::fromStdString(why);
        m_state = Error;
        return false;
    }
    m_endpoint = endpointText(S.Address, S.Port);
    m_state = QStringLiteral("Listening on http://%1/api/v1").arg(m_endpoint);
    if (!m_tokenPath.isEmpty())
        m_state += QStringLiteral("; token in %1").arg(m_tokenPath);
    std::fprintf(stderr, "quorlin: API on http://%s/api/v1\n",
                 qPrintable(endpointText(S.Address, S.Port)));
    return true;
}

void TRemoteControl::showState()
{
    if (Listening()) {
        StatusLabel->setText(QStringLiteral("API ") + m_endpoint);
        StatusLabel->setToolTip(m_state);
        StatusLabel->setVisible(true);
    } else if (!m_state.isEmpty()) {
        // Why it is off, as the port's own text says why it is closed.
        StatusLabel->setText(QStringLiteral("API: ") + m_state);
        StatusLabel->setToolTip(m_state);
        StatusLabel->setVisible(true);
    } else {
        StatusLabel->setVisible(false);
    }
}

void TRemoteControl::Apply(const TRemoteSettings &Settings)
{
    const TRemoteSettings before = m_settings;
    m_settings = Settings;
    if (!Settings.On) {
        Shutdown();
        m_state.clear();
    } else if (!(Settings == before) || !Listening()) {
        QString error;
        startServer(Settings, error);
    }
    showState();
    saveSettings();
}

void TRemoteControl::saveSettings()
{
    TIniFile ini(m_form.Profile().SettingsPath().toStdString());
    ini.Write({{Section, "On", m_settings.On ? "1" : "0"},
               {Section, "Address", m_settings.Address.toStdString()},
               {Section, "Port", std::to_string(m_settings.Port)},
               {Section, "TokenFile", m_settings.TokenFile.toStdString()}});
}

void TRemoteControl::RemoteControl1Click()
{
    if (!Form)
        Form = new TRemoteControlForm(&m_form);
    Form->Load(m_settings, m_state);
    if (Form->exec() != QDialog::Accepted)
        return;
    Apply(Form->Settings());
}

void TRemoteControl::AfterTick()
{
    std::vector<TBinding> bindings;
    for (const TScriptBinding &b : m_form.BindingList())
        bindings.push_back(
            {BindingSlaveId(b, m_form.Slaves()), int(b.RegType), int(b.RegAdr), b.Name});
    m_api.PublishBindings(std::move(bindings));
}

TSlaveSet &TRemoteControl::Slaves()
{
    return m_form.Slaves();
}

TApiStatus TRemoteControl::Status()
{
    TApiStatus s;
    s.Version = VersionText();
    while (!s.Version.empty() && s.Version.back() == '\n')
        s.Version.pop_back();
    s.Profile = m_form.Profile().ProfilePath.toStdString();
    s.ProfileSaved = m_form.Profile().ProfileSaved;
    const TPortStatus port = m_form.CurrentPortStatus();
    TApiListener serial;
    serial.Kind = "serial";
    serial.Name = port.Name;
    serial.Device = port.Device;
    serial.Open = port.Open;
    if (m_form.Network().NoSerial()) {
        serial.Open = false;
        serial.Reason = "not used: network only";
    } else if (port.Open)
        serial.Settings = std::to_string(port.BaudRate) + " " + std::to_string(port.DataBits) +
                          port.Parity + port.StopBits;
    else
        serial.Reason = port.Reason;
    s.Lines.push_back(std::move(serial));
    const TNetServer &server = m_form.Network().Server();
    for (int i = 0; i < server.ListenerCount(); ++i) {
        const TListenerState &l = server.Listener(i);
        TApiListener net;
        net.Kind = l.Config.Kind == TStreamKind::ModbusTcp ? "tcp" : "rtu-tcp";
        net.Name = ListenSpecText(l.Config.Address, l.BoundPort > 0 ? l.BoundPort : l.Config.Port);
        net.Open = l.Listening();
        if (!net.Open)
            net.Reason = l.Error;
        net.Clients = l.Clients.load();
        net.MaxClients = l.Config.MaxClients;
        net.Refused = l.Refused.load();
        s.Lines.push_back(std::move(net));
    }
    s.Counters = m_form.Traffic().Counters;
    s.LostFrames = m_form.Traffic().LostFrames;
    if (m_form.Traffic().LastRequestUs >= 0)
        s.SinceLastRequestMs = (SteadyNowUs() - m_form.Traffic().LastRequestUs) / 1000;
    return s;
}

void TRemoteControl::ResetCounters()
{
    m_form.ResetTrafficCounters();
}

TSlaveCommands &TRemoteControl::SlaveCommands()
{
    return m_form.SlaveCommands();
}

IRegisterSource &TRemoteControl::RegisterSource()
{
    return m_form.RegisterSource();
}

TFaultSettings TRemoteControl::Faults()
{
    return m_form.Profile().Faults;
}

void TRemoteControl::SetFaults(const TFaultSettings &Faults)
{
    m_form.SetFaults(Faults);
}

TFaultCounts TRemoteControl::FaultCounts()
{
    std::lock_guard<std::mutex> lock(m_form.Engine().Lock());
    return m_form.Engine().Faults().Counts();
}

bool TRemoteControl::FailNext(const TFailNext &Order)
{
    std::lock_guard<std::mutex> lock(m_form.Engine().Lock());
    return m_form.Engine().Faults().FailNext(Order);
}

TFailNext TRemoteControl::FailNextLeft()
{
    std::lock_guard<std::mutex> lock(m_form.Engine().Lock());
    return m_form.Engine().Faults().FailNextLeft();
}

bool TRemoteControl::AcceptsBroadcast()
{
    return m_form.Slaves().AcceptBroadcast;
}

} // namespace quorlin
