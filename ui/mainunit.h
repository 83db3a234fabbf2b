// SPDX-License-Identifier: MIT
// The main window: the register panels with their 100 ms tick, the main
// menu, and everything that lives as long as the program runs (register
// image, serial device, timers, scripts, bindings, Configuration dialog).
#pragma once

#include <QMainWindow>
#include <QString>

#include <array>
#include <memory>
#include <optional>

#include "engine/framequeue.h"
#include "engine/registerimage.h"
#include "engine/slaveset.h"
#include "monitor/traffic.h"
#include "platform/filelocations.h"
#include "profile/profilehost.h"
#include "registers/slavedisplay.h"
#include "scripts/scriptbinding.h"
#include "scripts/scriptint.h"
#include "serial/ui/configunit.h"
#include "ui/commandline.h"
#include "ui/statustext.h"
#include "ui/statusbarfit.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QScrollBar;
class QTimer;
class QToolButton;

namespace quorlin
{

class IProfileDialogs;
class TAboutBox;
class TAddSForm;
class TAskForm;
class TComm;
class TDelSForm;
class TFaultsForm;
class THelpViewer;
class TProfileManager;
class TRemoteControl;
class IRegisterSource;
class TRegistersForm;
class TDeviceMaps;
class TScriptCommands;
class TModbusSlave;
class TMonitorForm;
class TNumberBox;
class TDeadline;
class TLineEngine;
class TNetworkCommands;
class TShape;
class TSlaveCommands;
class TSlavesForm;
class TTabControl;
class TPermissionNotice;
class TPollStatsView;

class TMainForm : public QMainWindow, public IProfileHost
{
    Q_OBJECT
  public:
    // Runs the start-up (FormCreate of the profile manager): image cleared,
    // scripts loaded, quorlin.ini read, the last profile loaded,
    // Configuration dialog created and filled, serial settings applied (the
    // port opened), Timer1 started. ProgramDir is where quorlin.ini,
    // UNTITLED.QRL and scripts.dll are looked for; empty means the
    // executable's directory. Dialogs answers the profile commands'
    // questions and file dialogs; null means the real message boxes.
    // Options: what the command line asked for (a profile to open).
    explicit TMainForm(QWidget *Parent = nullptr, const QString &ProgramDir = QString(),
                       IProfileDialogs *Dialogs = nullptr,
                       const TCommandLine &Options = TCommandLine());
    ~TMainForm() override;

    // The dialogs the main sequence creates after this window, in this
    // order: the value dialog, the about box, the two script dialogs.
    void CreateDialogs();

    // --- what lives as long as the window ---
    // The image of the slave whose tab is selected: what the panels show.
    TRegisterImage &RegisterImage() override { return *m_current; }
    TBindingList &BindingList() override { return m_bindingList; }
    const TScriptList &ScriptList() const override { return m_scripts.ScriptList; }
    const TScriptLibrary &ScriptLibrary() const { return m_scripts; }
    TModbusSlave &Engine() { return *m_engine; }
    const QString &ProgramDir() const { return m_programDir; }
    // Where quorlin.ini, the untitled profile, scripts.dll and the manual are
    // (all in ProgramDir for a portable copy).
    const TFileLocations &FileLocations() const { return m_locations; }
    TComm *Comm1 = nullptr;
    QTimer *Timer1 = nullptr;                // 100 ms, periodic: Tick
    // Deadlines of the port's own thread, which serves the engine.
    TDeadline *TimeOutTimer = nullptr; // 100 ms, one-shot: drops a partial request
    TDeadline *ReplyTimer = nullptr;   // one-shot: holds back a reply (injected delay)
    TConfForm *ConfForm = nullptr;
    // Created by CreateDialogs (or by a test), after this window.
    TAskForm *AskForm = nullptr;
    TAboutBox *AboutBox = nullptr;
    TAddSForm *AddSForm = nullptr;
    TDelSForm *DelSForm = nullptr;
    // Set together with the two script dialogs.
    void SetScriptDialogs(TAddSForm *Add, TDelSForm *Del);
    TScriptCommands *ScriptCommands() { return m_scriptCommands.get(); }

    // --- profile state: ProfilePath, ProfileNamed, ProfileSaved, TitleText ---
    TProfileManager &Profile() { return *m_profile; }

    // --- the profile host: start-up, serial settings, shutdown ---
    QWidget *DialogParent() override { return this; }
    void CreateLists() override;
    void LoadScriptLibrary() override;
    void ClearReceiveBuffer() override;
    bool StayOnTop() const override;
    void SetStayOnTop(bool On) override;
    void CreateConfigDialog() override;
    void LoadSerialDialog(const TSerialValues &Values) override;
    TSerialValues ReadSerialDialog() const override;
    void ApplySerialSettings() override;
    void StartTimer() override;
    void StopTimer() override;
    void ClosePort() override;
    void ReleaseImage() override;
    void CloseMainWindow() override;
    void ApplyFaults(const TFaultSettings &Faults) override;
    void ApplySlaveFaults(const std::map<int, TFaultSettings> &SlaveFaults) override;
    void ApplyNetwork(const TNetworkSettings &Network) override;
    void LoadSlaves(int FirstId, const TProfileSlaves &Slaves, bool NewProfile) override;
    TProfileSlaves ReadSlaves() const override;

    // --- the slaves of the line, one tab each in ascending id order ---
    TSlaveSet &Slaves() { return m_slaves; }
    // Shows slave Id's tab and image (0 or an unknown id: the first slave).
    void SelectSlave(int Id);
    TSlaveCommands &SlaveCommands() { return *m_slaveCommands; }
    TSlavesForm *SlavesForm = nullptr; // made by the first Slaves1Click
    // The tab strip's context menu for the tab at TabIndex (-1: none).
    QMenu *BuildSlaveMenu(int TabIndex);

    // --- the panels ---
    TTabControl *TabControl1 = nullptr;
    QGroupBox *GroupBox1 = nullptr;           // coils
    QGroupBox *GroupBox2 = nullptr;           // discrete inputs
    QGroupBox *GroupBox3 = nullptr;           // input registers
    QGroupBox *GroupBox4 = nullptr;           // holding registers
    std::array<TShape *, 64> Shapes{};        // Shape1..Shape64
    std::array<TNumberBox *, 12> Edits{};     // Edit1..Edit12
    std::array<QScrollBar *, 4> ScrollBars{}; // ScrollBar1..ScrollBar4
    std::array<QLabel *, 28> Labels{};        // Label1..Label28

    // The child of the type's group box whose tag names register n (n + 10
    // finds a scroll bar, n + 20 a hex label), or null.
    QWidget *FindPanelControl(int RegType, int n) const;

    void Tick();
    // Copies the selected slave's tables (under the line's lock) and shows them.
    void RefreshPanels();
    // What the panels and the register table show: the selected slave's
    // tables as the last tick or refresh copied them.
    const TRegisterTables &View() const { return m_view; }
    void Shape1MouseDown(TShape *Sender);
    void Edit1Click(TNumberBox *Sender);
    void ScrollBar1Change(QScrollBar *Sender, int Position);

    // --- the main menu ---
    QMenu *File1 = nullptr;
    QAction *NewProfile1 = nullptr;
    QAction *OpenProfile1 = nullptr;
    QAction *SaveProfile1 = nullptr;
    QAction *SaveAsProfile1 = nullptr;
    QAction *Exit1 = nullptr;
    QMenu *AddPLC1 = nullptr;
    QAction *AddPLC2 = nullptr;
    QAction *DeletePLC1 = nullptr;
    QAction *AddScript1 = nullptr;
    QMenu *Settings1 = nullptr;
    QAction *SerialOptions1 = nullptr;
    QAction *StayOnTop1 = nullptr;
    QAction *Faults1 = nullptr;       // "Faults...": the Faults dialog
    QAction *InjectFaults1 = nullptr; // check item: the faults' Enabled
    TFaultsForm *FaultsForm = nullptr;
    QLabel *FaultsStatus = nullptr; // in the status bar while faults are on
    QAction *Slaves1 = nullptr;
    QAction *AcceptBroadcast1 = nullptr;
    QAction *Network1 = nullptr; // "Network...": the listeners
    void Network1Click();
    TNetworkCommands &Network() { return *m_network; }
    QMenu *About1 = nullptr;
    QAction *HelpTopics1 = nullptr;
    QAction *About2 = nullptr;

    void NewProfile1Click();
    void OpenProfile1Click();
    void SaveProfile1Click();
    void SaveAsProfile1Click();
    void Exit1Click();
    void AddPLC2Click();
    void DeletePLC1Click();
    void AddScript1Click();
    void SerialOptions1Click();
    void StayOnTop1Click();
    void Faults1Click();
    void InjectFaults1Click();
    // What the Faults dialog's OK does with its settings (normalised): a
    // change restarts the counts and marks the profile changed.
    void SetFaults(const TFaultSettings &Faults);
    // The same for the slaves' own sections.
    void SetSlaveFaults(const std::map<int, TFaultSettings> &SlaveFaults);
    // The red warning in the status bar: shown while [Faults] or any slave's
    // own section is on.
    void showFaultsStatus(const TFaultSettings &Faults);
    // The HTTP API and its Settings menu item; a child of this window.
    TRemoteControl *RemoteControl = nullptr;
    void Slaves1Click();
    void AcceptBroadcast1Click();
    void HelpTopics1Click();
    void About2Click();
    THelpViewer *HelpViewer() const { return m_helpViewer; }

    // --- the register table and the register values files ---
    QAction *ExportValues1 = nullptr; // File menu
    QAction *ImportValues1 = nullptr;
    QAction *Registers1 = nullptr; // View > Registers, Ctrl+R
    // Created when first opened; refreshed by the tick while shown.
    TRegistersForm *RegistersForm() const { return m_registersForm; }
    IRegisterSource &RegisterSource() { return *m_registerSource; }
    // The application property that names a register values file to import
    // at start; when it cannot be, the port is not opened and StartError
    // says why.
    static constexpr const char *StartValuesProperty = "StartValues";
    static constexpr const char *StartMapProperty = "StartMap";
    // Loads a map for this run: rows without a slave are the selected
    // slave's; a slave the map names that is not emulated is left out.
    // Empty on success, else why the whole map was refused.
    QString LoadMap(const QString &Path);
    const QString &StartError() const { return m_startError; }
    void Registers1Click();
    void ExportValues1Click();
    void ImportValues1Click();

    // --- device maps and per-slave options (mainmaps.cpp) ---
    QAction *ImportMap1 = nullptr; // File menu
    QAction *ExportMap1 = nullptr;
    void ImportMap1Click();
    void ExportMap1Click();
    // "Slave Options" for slave Id (0: the selected one).
    void SlaveOptions1Click(int Id = 0);
    // Each slave's map items and row formats, as the register table shows them.
    TSlaveDisplays &Displays() { return m_displays; }
    TDeviceMaps &DeviceMaps() { return *m_deviceMaps; }

    // Closes without the unsaved-profile question: a terminate signal cannot
    // be answered.
    void CloseWithoutQuestion();

    // --- the traffic of the line: View menu, monitor, status bar, trace ---
    QMenu *View1 = nullptr;
    QAction *TrafficMonitor1 = nullptr;
    void TrafficMonitor1Click();
    TMonitorForm *MonitorForm = nullptr; // made the first time it is asked for
    TPollStatsView *PollStats = nullptr;  // View > Poll Statistics and its collector
    TTrafficRecorder &Traffic() { return m_traffic; }
    TPortStatusLabel *PortStatus = nullptr; // left of the status bar
    QToolButton *CountersStatus = nullptr; // right; a click opens the monitor
    // Every row of the monitor also goes to Trace (owned by the caller),
    // pushed out at each tick. Null: no trace.
    void SetTrace(TCsvTrace *Trace);
    // The 100 ms tick of everything that shows the traffic.
    void TrafficTick();
    // The port as the status bar shows it.
    TPortStatus CurrentPortStatus() const;
    // As the monitor's Reset button does.
    void ResetTrafficCounters();

  protected:
    void closeEvent(QCloseEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;

  private:
    void buildMenu();
    void paintPanels();
    void buildPanels();
    void buildSlaveTabs();
    void syncSlaveTabs();
    void slavesChanged(int ShowId);
    void buildStatusBar();
    void updateStatusBar();
    void updatePortStatus();
    void fitStatusBar();

    QString m_programDir;
    TFileLocations m_locations;
    TPermissionNotice *m_permissionNotice = nullptr;
    // The engine's own image, never answered from: every request goes to
    // m_slaves.
    TRegisterImage m_lineImage;
    TSlaveSet m_slaves;
    TRegisterImage *m_current = &m_slaves.First();
    std::unique_ptr<TSlaveCommands> m_slaveCommands;
    TScriptLibrary m_scripts;
    TBindingList m_bindingList;
    std::unique_ptr<TModbusSlave> m_engine;
    std::unique_ptr<TDeadline> m_timeOut;
    std::unique_ptr<TDeadline> m_replyDeadline;
    std::unique_ptr<TLineEngine> m_lineEngine;
    // The listeners' thread; stopped before the slaves and the engine go.
    TNetworkCommands *m_network = nullptr;
    // Reports cross from the port's thread here; the tick hands them on.
    TFrameQueue m_frames;
    TRegisterTables m_view;
    // The values the panels last showed: 32 coils, 32 inputs, 6 + 6 registers.
    using TPanelValues = std::array<uint16_t, 76>;
    std::optional<TPanelValues> m_panelsShown;
    const TRegisterImage *m_viewOf = nullptr; // the slave m_view was copied from
    // Under the lock: copies into m_view what the window shows.
    void copyView();
    IProfileDialogs *m_dialogs = nullptr; // m_ownDialogs unless the caller gave its own
    std::unique_ptr<IProfileDialogs> m_ownDialogs;
    std::unique_ptr<TProfileManager> m_profile;
    std::unique_ptr<TScriptCommands> m_scriptCommands;
    THelpViewer *m_helpViewer = nullptr;
    TTrafficRecorder m_traffic;
    bool m_traceFailureReported = false;
    bool m_portStatusOpen = false; // the port as the status bar last showed it
    std::string m_portStatusName;
    TStatusBarTexts m_statusTexts; // as the status bar was last laid out
    // What the status bar's texts were last built from.
    struct TStatusBarKey {
        TLineCounters Counters;
        int64_t Since; // whole seconds, then 60 + whole minutes; -1: no request
        int Width;
        bool operator==(const TStatusBarKey &) const = default;
    };
    std::optional<TStatusBarKey> m_statusKey;
    int m_statusWidth = -1;
    static constexpr int StatusBarSpacing = 10; // between the bar's widgets, with their frames
    void buildRegisterCommands();
    std::unique_ptr<IRegisterSource> m_registerSource;
    TRegistersForm *m_registersForm = nullptr;
    TSlaveDisplays m_displays;
    std::unique_ptr<TDeviceMaps> m_deviceMaps;
    // The folder the slaves' relative map names are found in: the folder of
    // the profile they were loaded with, empty for a new profile.
    std::string m_mapFolder;
    void buildMapCommands();
    // After a slave's map, options or formats changed.
    void deviceChanged();
    // Keeps the slaves' displays in step with a load.
    void loadDisplays(const TProfileSlaves &Slaves, std::map<int, std::vector<TMapItem>> &Maps);
    void readDisplays(TProfileSlaves &Slaves) const;
    QString m_valuesDirectory;
    bool m_startValuesTaken = false;
    QString m_startError;
};

} // namespace quorlin
