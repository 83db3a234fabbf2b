// SPDX-License-Identifier: MIT
#include "ui/mainunit.h"
#include "serial/ui/designfit.h"
#include "serial/ui/placement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QFontMetrics>
#include <QStatusBar>
#include <QTabBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "engine/deadline.h"
#include "engine/modbusslave.h"
#include "faults/faultsform.h"
#include "monitor/monitorform.h"
#include "pollstats/pollstatsview.h"
#include "netconfig/networkcommands.h"
#include "platform/posixserial.h"
#include "profile/profiledialogs.h"
#include "profile/profilemanager.h"
#include "registers/registersform.h"
#include "registers/registersource.h"
#include "registers/valuesfile.h"
#include "scripts/ui/addscript.h"
#include "scripts/ui/delscript.h"
#include "scripts/ui/scriptcommands.h"
#include "serial/commint.h"
#include "serial/lineengine.h"
#include "serial/ui/connectionreport.h"
#include "serial/ui/spinedit.h"
#include "slaves/devicesetup.h"
#include "slaves/slavecommands.h"
#include "slaves/devicemaps.h"
#include "slaves/slavesform.h"
#include "ui/aboutunit.h"
#include "ui/askunit.h"
#include "ui/helpviewer.h"
#include "ui/panelcontrols.h"
#include "ui/adapternotice.h"
#include "ui/permissionnotice.h"
#include "ui/remotecontrol.h"
#include "ui/statusbarfit.h"
#include "ui/statustext.h"

namespace quorlin
{

namespace
{

QString hex4(uint16_t Value)
{
    return QStringLiteral("%1").arg(Value, 4, 16, QLatin1Char('0')).toUpper();
}

QLabel *makeLabel(QWidget *Parent, int Number, const QString &Text, const QRect &Geometry)
{
    auto *label = new QLabel(Text, Parent);
    label->setObjectName(QStringLiteral("Label%1").arg(Number));
    label->setGeometry(Geometry);
    return label;
}

QString registerCaption(int Family, int n)
{
    return QStringLiteral("%1x%2").arg(Family).arg(n, 4, 10, QLatin1Char('0'));
}

// The main window's slaves as the register table and the values files see
// them: the selected one is the slave of the selected tab.
class TMainRegisterSource : public IRegisterSource
{
  public:
    explicit TMainRegisterSource(TMainForm &Form) : m_form(Form) {}
    int SelectedSlave() const override { return m_form.RegisterImage().MBid; }
    TRegisterImage &SelectedImage() override { return m_form.RegisterImage(); }
    const TRegisterTables &SelectedTables() const override { return m_form.View(); }
    // Copies taken under the lock: the engine may be writing the tables.
    std::vector<TSlaveImage> Slaves() const override
    {
        std::vector<TSlaveImage> all;
        TSlaveSet &slaves = m_form.Slaves();
        m_copies.resize(size_t(slaves.Count()));
        std::lock_guard<std::mutex> hold(slaves.Lock());
        for (int i = 0; i < slaves.Count(); ++i) {
            if (!m_copies[size_t(i)])
                m_copies[size_t(i)] = std::make_unique<TRegisterTables>();
            *m_copies[size_t(i)] = slaves.At(i);
            all.push_back({slaves.At(i).MBid, m_copies[size_t(i)].get()});
        }
        return all;
    }
    TRegisterImage *SlaveImage(int Id) override { return m_form.Slaves().Find(Id); }
    TSlaveDisplay *SelectedDisplay() override
    {
        return &m_form.Displays().Of(&m_form.RegisterImage());
    }
    std::vector<std::pair<TRegisterRef, std::string>> SelectedScripts() const override
    {
        std::vector<std::pair<TRegisterRef, std::string>> scripts;
        const int selected = SelectedSlave();
        for (const TScriptBinding &b : m_form.BindingList())
            if (BindingSlaveId(b, m_form.Slaves()) == selected)
                scripts.push_back({{int32_t(b.RegType), int32_t(b.RegAdr)}, b.Name});
        return scripts;
    }

  private:
    TMainForm &m_form;
    mutable std::vector<std::unique_ptr<TRegisterTables>> m_copies;
};

} // namespace

TMainForm::TMainForm(QWidget *Parent, const QString &ProgramDir, IProfileDialogs *Dialogs,
                     const TCommandLine &Options)
    : QMainWindow(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                              Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                              Qt::WindowCloseButtonHint),
      m_programDir(ProgramDir.isEmpty() ? QCoreApplication::applicationDirPath() : ProgramDir)
{
    setObjectName(QStringLiteral("MainForm"));
    setWindowTitle(QString::fromLatin1(ApplicationTitle));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));

    buildMenu();
    buildRegisterCommands();
    buildPanels();
    buildStatusBar();

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Tick);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::TrafficTick);
    // The line's own thread keeps both: a busy window delays no reply.
    m_timeOut = std::make_unique<TDeadline>(100);
    m_replyDeadline = std::make_unique<TDeadline>(0);
    TimeOutTimer = m_timeOut.get();
    ReplyTimer = m_replyDeadline.get();

    Comm1 = new TComm(this);
    Comm1->setObjectName(QStringLiteral("Comm1"));
    Comm1->SetMonitorEvents(commEvents({evRxChar}));
    Comm1->SetOptions(0);
    m_engine = std::make_unique<TModbusSlave>(m_lineImage, *Comm1, *TimeOutTimer);
    m_engine->SetSlaves(&m_slaves);
    // The poll statistics see every frame beside the queue, on the line's thread.
    PollStats = new TPollStatsView(&m_frames, this);
    PollStats->AddTo(*View1);
    PollStats->SerialLineName = [this] { return QString::fromStdString(m_traffic.SerialLine); };
    m_engine->SetObserver(PollStats->Observer());
    m_slaveCommands = std::make_unique<TSlaveCommands>(
        m_slaves, m_bindingList, [this](int ShowId) { slavesChanged(ShowId); }, this);
    m_lineEngine = std::make_unique<TLineEngine>(*m_engine, *Comm1, *m_timeOut, *m_replyDeadline);
    Comm1->SetLineHandler(m_lineEngine.get());
    // The network answers as the same slaves, under the same lock, with the same faults.
    m_network = new TNetworkCommands(m_slaves, m_engine->Faults(), *statusBar(), *this);
    m_network->SetExtra(Options.Listeners, Options.NoSerial);

    // Start-up: everything above exists before the profile manager drives it.
    m_dialogs = Dialogs;
    if (!m_dialogs) {
        m_ownDialogs = std::make_unique<TQtProfileDialogs>();
        m_dialogs = m_ownDialogs.get();
    }
    m_profile = std::make_unique<TProfileManager>(*this, *m_dialogs, m_programDir);
    buildMapCommands();
    m_locations = ChooseFileLocations(ProbePlaces(m_programDir.toStdString()));
    if (!m_locations.Portable()) {
        // A folder that cannot be made shows later, as the settings file or
        // profile that cannot be written.
        if (!MakeUserFolders(m_locations))
            std::fprintf(stderr, "quorlin: cannot make the folders of %s and %s: %s\n",
                         m_locations.SettingsFile.c_str(), m_locations.DataDir.c_str(),
                         std::strerror(errno));
        m_profile->SetUserFolders(
            QFileInfo(QString::fromStdString(m_locations.SettingsFile)).absolutePath(),
            QString::fromStdString(m_locations.DataDir));
    }
    if (!Options.Profile.empty())
        m_profile->StartProfile =
            QFileInfo(QFile::decodeName(QByteArray::fromStdString(Options.Profile)))
                .absoluteFilePath();
    // The port names are looked up in the settings file the profile reads.
    Comm1->SetIniPath(m_profile->SettingsPath().toStdString());
    // A port that is lost or not there yet is tried again once a second, and
    // the caption and standard error follow it by themselves.
    Comm1->SetRetryInterval(1000);
    new TConnectionReport(*Comm1, *this, [this] { return m_profile->TitleText; });
    m_permissionNotice = new TPermissionNotice(*Comm1, *this);
    new TAdapterNotice(*Comm1, *this);
    connect(Comm1, &TCustomComm::AdapterChanged, this, &TMainForm::updatePortStatus);
    // Opened, failed to open or lost, also by itself (an unplugged adapter, a retry).
    connect(Comm1, &TCustomComm::ConnectionChanged, this, &TMainForm::updatePortStatus);
    RemoteControl = new TRemoteControl(*this);
    m_traffic.Tap = [this](const TTrafficRow &Row) { RemoteControl->FeedRow(Row); };
    m_profile->FormCreate();
    updateStatusBar();
    // Once the profile is loaded and the port tried, as a test rig expects;
    // not at all when the start failed and the program is about to end.
    if (m_startError.isEmpty())
        RemoteControl->Start(Options);

    // The end of the desktop session (or any other quit the platform asks
    // for) reaches the application as a quit event, which would close the
    // window with the unsaved-profile question that nobody is there to answer.
    qApp->installEventFilter(this);

    adjustSize();
    CentreOnScreen(*this);
}

TMainForm::~TMainForm()
{
    // No API thread may reach the slaves or the window once they start to go.
    RemoteControl->Shutdown();
    m_traffic.Tap = nullptr;
    // Nothing may reach the engine or the image once they start to go.
    m_profile->FormClose();
    // The port's thread stops serving the engine before anything it uses goes.
    Comm1->Close();
    Comm1->SetLineHandler(nullptr);
    m_engine->SetObserver(nullptr);
    // The monitor shows rows of m_traffic, which goes before this window's
    // children do: the monitor must go first.
    delete MonitorForm;
    MonitorForm = nullptr;
}

void TMainForm::CreateDialogs()
{
    AskForm = new TAskForm(this);
    AboutBox = new TAboutBox(this);
    AboutBox->setProgramDir(ScriptLibraryDir(m_locations));
    // One statement each: the order of a call's arguments is the compiler's.
    auto *addSForm = new TAddSForm(ScriptList(), this);
    auto *delSForm = new TDelSForm(this);
    SetScriptDialogs(addSForm, delSForm);
}

void TMainForm::SetScriptDialogs(TAddSForm *Add, TDelSForm *Del)
{
    AddSForm = Add;
    DelSForm = Del;
    m_scriptCommands = std::make_unique<TScriptCommands>(
        *AddSForm, *DelSForm, m_bindingList, [this] { m_profile->ProfileSaved = false; }, this);
    m_scriptCommands->setSlaves(&m_slaves, [this] { return m_current->MBid; });
}

void TMainForm::buildMenu()
{
    // Each command is wired where its item is made.
    auto addItem = [this](QMenu *Menu, const char *Name, const QString &Caption,
                          void (TMainForm::*Command)()) {
        QAction *a = Menu->addAction(Caption);
        a->setObjectName(QLatin1String(Name));
        connect(a, &QAction::triggered, this, Command);
        return a;
    };
    auto addSeparator = [](QMenu *Menu, const char *Name) {
        Menu->addSeparator()->setObjectName(QLatin1String(Name));
    };
    QMenuBar *bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    File1 = bar->addMenu(QStringLiteral("&File"));
    File1->setObjectName(QStringLiteral("File1"));
    NewProfile1 =
        addItem(File1, "NewProfile1", QStringLiteral("New Profile"), &TMainForm::NewProfile1Click);
    NewProfile1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_N));
    addSeparator(File1, "N4");
    OpenProfile1 = addItem(File1, "OpenProfile1", QStringLiteral("&Open Profile"),
                           &TMainForm::OpenProfile1Click);
    OpenProfile1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    addSeparator(File1, "N5");
    SaveProfile1 = addItem(File1, "SaveProfile1", QStringLiteral("&Save Profile"),
                           &TMainForm::SaveProfile1Click);
    SaveProfile1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    SaveAsProfile1 = addItem(File1, "SaveAsProfile1", QStringLiteral("Save As Profile"),
                             &TMainForm::SaveAsProfile1Click);
    addSeparator(File1, "N1");
    Exit1 = addItem(File1, "Exit1", QStringLiteral("E&xit"), &TMainForm::Exit1Click);

    AddPLC1 = bar->addMenu(QStringLiteral("&Scripts"));
    AddPLC1->setObjectName(QStringLiteral("AddPLC1"));
    AddPLC2 = addItem(AddPLC1, "AddPLC2", QStringLiteral("&Add Script"), &TMainForm::AddPLC2Click);
    DeletePLC1 = addItem(AddPLC1, "DeletePLC1", QStringLiteral("&Remove Script"),
                         &TMainForm::DeletePLC1Click);
    addSeparator(AddPLC1, "N2");
    AddScript1 =
        addItem(AddPLC1, "AddScript1", QStringLiteral("Edit S&cript"), &TMainForm::AddScript1Click);

    Settings1 = bar->addMenu(QStringLiteral("Se&ttings"));
    Settings1->setObjectName(QStringLiteral("Settings1"));
    SerialOptions1 = addItem(Settings1, "SerialOptions1", QStringLiteral("Serial O&ptions"),
                             &TMainForm::SerialOptions1Click);
    StayOnTop1 = addItem(Settings1, "StayOnTop1", QStringLiteral("Stay On Top"),
                         &TMainForm::StayOnTop1Click);
    StayOnTop1->setCheckable(true);
    StayOnTop1->setChecked(false);
    Settings1->addSeparator()->setObjectName(QStringLiteral("N6"));
    Slaves1 = addItem(Settings1, "Slaves1", QStringLiteral("S&laves..."), &TMainForm::Slaves1Click);
    AcceptBroadcast1 =
        addItem(Settings1, "AcceptBroadcast1", QStringLiteral("Accept &Broadcast Writes"),
                &TMainForm::AcceptBroadcast1Click);
    AcceptBroadcast1->setCheckable(true);
    AcceptBroadcast1->setChecked(false);
    addSeparator(Settings1, "N7");
    Faults1 = addItem(Settings1, "Faults1", QStringLiteral("&Faults..."), &TMainForm::Faults1Click);
    Network1 = addItem(Settings1, "Network1", QStringLiteral("&Network..."),
                       &TMainForm::Network1Click);
    InjectFaults1 = addItem(Settings1, "InjectFaults1", QStringLiteral("&Inject Faults"),
                            &TMainForm::InjectFaults1Click);
    InjectFaults1->setCheckable(true);

    View1 = bar->addMenu(QStringLiteral("&View"));
    View1->setObjectName(QStringLiteral("View1"));
    TrafficMonitor1 = addItem(View1, "TrafficMonitor1", QStringLiteral("Traffic &Monitor"),
                              &TMainForm::TrafficMonitor1Click);
    TrafficMonitor1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));

    About1 = bar->addMenu(QStringLiteral("&Help"));
    About1->setObjectName(QStringLiteral("About1"));
    HelpTopics1 = addItem(About1, "HelpTopics1", QStringLiteral("Help &Topics"),
                          &TMainForm::HelpTopics1Click);
    addSeparator(About1, "N3");
    About2 = addItem(About1, "About2", QStringLiteral("A&bout"), &TMainForm::About2Click);

    // The shortcuts work without opening the menu.
    for (QAction *a : {NewProfile1, OpenProfile1, SaveProfile1, TrafficMonitor1})
        addAction(a);
}

void TMainForm::buildPanels()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("ClientArea"));
    client->setFixedSize(460, 380);
    setCentralWidget(client);
    // The frame is fixed: client area plus menu bar, nothing to resize.
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    TabControl1 = new TTabControl(client);
    TabControl1->setObjectName(QStringLiteral("TabControl1"));
    TabControl1->setGeometry(0, 0, 460, 380);
    TabControl1->Tabs()->addTab(QStringLiteral("MB id 1"));
    buildSlaveTabs();

    auto makeGroup = [this](const char *Name, const QString &Caption, int Top, int Height) {
        auto *box = new QGroupBox(Caption, TabControl1);
        box->setObjectName(QLatin1String(Name));
        box->setGeometry(10, Top, 441, Height);
        return box;
    };
    GroupBox1 = makeGroup("GroupBox1", QStringLiteral(" DO (0x regs) "), 30, 61);
    GroupBox2 = makeGroup("GroupBox2", QStringLiteral(" DI (1x regs) "), 95, 61);
    GroupBox3 = makeGroup("GroupBox3", QStringLiteral(" AI (3x regs) "), 160, 101);
    GroupBox4 = makeGroup("GroupBox4", QStringLiteral(" AO (4x regs) "), 265, 106);

    // Lamps: two rows of 16, register n of the family at tag n (+100 for 1x).
    auto makeLamps = [this](QGroupBox *Group, int FirstShape, int TagBase, int Family,
                            int FirstLabel) {
        for (int n = 1; n <= 32; ++n) {
            auto *lamp = new TShape(Group);
            const int number = FirstShape + n - 1;
            lamp->setObjectName(QStringLiteral("Shape%1").arg(number));
            lamp->setGeometry(70 + 20 * ((n - 1) % 16), n <= 16 ? 20 : 40, 10, 10);
            lamp->setCursor(Qt::PointingHandCursor);
            SetTag(lamp, TagBase + n);
            connect(lamp, &TShape::MouseDown, this,
                    [this](TShape *Sender, Qt::MouseButton) { Shape1MouseDown(Sender); });
            Shapes[number - 1] = lamp;
        }
        const int rows[] = {20, 40};
        for (int r = 0; r < 2; ++r) {
            const int first = r * 16 + 1;
            Labels[FirstLabel + 2 * r - 1] =
                makeLabel(Group, FirstLabel + 2 * r, registerCaption(Family, first),
                          QRect(18, rows[r] - 2, 48, 14));
            Labels[FirstLabel + 2 * r] =
                makeLabel(Group, FirstLabel + 2 * r + 1, registerCaption(Family, first + 15),
                          QRect(392, rows[r] - 2, 48, 14));
        }
    };
    makeLamps(GroupBox1, 1, 0, 0, 1);
    makeLamps(GroupBox2, 33, 100, 1, 5);

    // Number boxes, scroll bars and hex labels of a word family.
    auto makeWords = [this](QGroupBox *Group, int FirstEdit, int TagBase, int Family,
                            int FirstCaption, int FirstBar, int HexLabel1, int HexLabel2) {
        const int columns[] = {60, 210, 360};
        const int rows[] = {15, 35};
        for (int n = 1; n <= 6; ++n) {
            const int col = (n - 1) % 3;
            const int row = (n - 1) / 3;
            const int number = FirstEdit + 2 * col + row;
            auto *box = new TNumberBox(Group);
            box->setObjectName(QStringLiteral("Edit%1").arg(number));
            box->setGeometry(columns[col], rows[row], 71, 21);
            box->setFocusPolicy(Qt::NoFocus);
            box->setCursor(Qt::PointingHandCursor);
            SetTag(box, TagBase + n);
            connect(box, &TNumberBox::Click, this, &TMainForm::Edit1Click);
            Edits[number - 1] = box;
            const int label = FirstCaption + n - 1;
            Labels[label - 1] = makeLabel(Group, label, registerCaption(Family, n),
                                          QRect(columns[col] - 48, rows[row] + 4, 44, 14));
        }
        const int hexLabels[] = {HexLabel1, HexLabel2};
        for (int n = 1; n <= 2; ++n) {
            const int top = n == 1 ? 60 : 80;
            auto *bar = new QScrollBar(Qt::Horizontal, Group);
            bar->setObjectName(QStringLiteral("ScrollBar%1").arg(FirstBar + n - 1));
            bar->setGeometry(60, top, 331, 16);
            bar->setRange(0, 65535);
            bar->setSingleStep(1);
            bar->setPageStep(1);
            SetTag(bar, TagBase + 10 + n);
            // valueChanged carries the user's moves only: the refresh sets
            // the position with the bar's signals blocked.
            connect(bar, &QScrollBar::valueChanged, this,
                    [this, bar](int Position) { ScrollBar1Change(bar, Position); });
            ScrollBars[FirstBar + n - 2] = bar;
            const int caption = FirstCaption + 6 + n - 1;
            Labels[caption - 1] =
                makeLabel(Group, caption, registerCaption(Family, n), QRect(12, top + 1, 44, 14));
            const int hex = hexLabels[n - 1];
            Labels[hex - 1] =
                makeLabel(Group, hex, QStringLiteral("0000"), QRect(398, top + 1, 40, 14));
            SetTag(Labels[hex - 1], TagBase + 20 + n);
        }
    };
    makeWords(GroupBox3, 1, 0, 3, 9, 1, 25, 26);
    makeWords(GroupBox4, 7, 100, 4, 17, 3, 28, 27);

    FitDesignToFont(*client);
}

void TMainForm::buildStatusBar()
{
    // Below the panels: the window grows by the bar's height, nothing moves.
    QStatusBar *status = statusBar();
    status->setObjectName(QStringLiteral("StatusBar1"));
    status->setSizeGripEnabled(false);
    PortStatus = new TPortStatusLabel(status);
    PortStatus->setObjectName(QStringLiteral("PortStatus"));
    // The window keeps its width: the port's state always shows, a long
    // device name is shortened in its middle (its tooltip has it whole).
    status->addWidget(PortStatus, 1);
    CountersStatus = new QToolButton(status);
    CountersStatus->setObjectName(QStringLiteral("CountersStatus"));
    CountersStatus->setAutoRaise(true);
    CountersStatus->setToolTip(QStringLiteral("Open the traffic monitor"));
    connect(CountersStatus, &QToolButton::clicked, this, &TMainForm::TrafficMonitor1Click);
    status->addPermanentWidget(CountersStatus);
}

TPortStatus TMainForm::CurrentPortStatus() const
{
    TPortStatus port;
    port.Name = Comm1->DeviceName();
    port.Device = Comm1->DevicePath();
    port.Open = Comm1->IsOpen();
    if (port.Open) {
        port.BaudRate = int(BaudRateValue(Comm1->BaudRate()));
        port.DataBits = int(DatabitsValue(Comm1->Databits()));
        static constexpr char parities[] = {'N', 'O', 'E', 'M', 'S'};
        port.Parity = Comm1->Parity() < sizeof parities ? parities[Comm1->Parity()] : '?';
        port.StopBits = Comm1->Stopbits() == sb10 ? "1" : Comm1->Stopbits() == sb15 ? "1.5" : "2";
    } else {
        // The device's own reason names the port again ("cannot open COM3
        // (/dev/ttyS2): ..."); the status bar shows the port once, its own way.
        port.Reason = Comm1->CloseReason();
        for (const std::string &lead :
             {"cannot open " + Comm1->PortLabel() + ": ", Comm1->PortLabel() + ": "})
            if (port.Reason.rfind(lead, 0) == 0) {
                port.Reason.erase(0, lead.size());
                break;
            }
    }
    return port;
}

void TMainForm::ResetTrafficCounters()
{
    m_traffic.ResetCounters();
    updateStatusBar();
    if (MonitorForm && MonitorForm->isVisible())
        MonitorForm->Refresh();
}

void TMainForm::updatePortStatus()
{
    // The serial line's rows in the monitor and the trace bear its name.
    m_traffic.SerialLine = m_network->NoSerial() ? std::string() : Comm1->DeviceName();
    if (m_network->NoSerial()) {
        m_portStatusOpen = false;
        m_portStatusName = Comm1->DeviceName();
        PortStatus->SetParts(QStringLiteral("Serial port not used"),
                             QStringLiteral("network only"));
        PortStatus->SetDetail(QString());
        m_statusTexts = {};
        m_statusKey.reset();
        return;
    }
    const TPortStatus port = CurrentPortStatus();
    m_portStatusOpen = port.Open;
    m_portStatusName = port.Name;
    PortStatus->SetParts(QString::fromStdString(PortStateText(port)),
                         QString::fromStdString(PortNameText(port)));
    PortStatus->SetDetail(QString::fromStdString(Comm1->AdapterSummary()));
    m_statusTexts = {}; // the room the others may take changed with it
    m_statusKey.reset();
}

void TMainForm::updateStatusBar()
{
    if (Comm1->IsOpen() != m_portStatusOpen || Comm1->DeviceName() != m_portStatusName)
        updatePortStatus();
    else if (Comm1->IgnoreEcho() && !m_network->NoSerial())
        PortStatus->SetDetail(QString::fromStdString(Comm1->AdapterSummary())); // the echo count
    const int64_t since =
        m_traffic.LastRequestUs < 0 ? -1 : SteadyNowUs() - m_traffic.LastRequestUs;
    // The texts change only with a counter or a whole second (a whole minute
    // after the first): most ticks end here without building them.
    const int64_t seconds = since < 0 ? -1 : since / 1000000;
    const TStatusBarKey key{m_traffic.Counters, seconds < 60 ? seconds : 60 + seconds / 60,
                            statusBar()->contentsRect().width()};
    if (m_statusKey && *m_statusKey == key)
        return;
    m_statusKey = key;
    TStatusBarTexts texts;
    texts.PortState = PortStatus->State();
    texts.Counters = QString::fromStdString(CountersStatusText(m_traffic.Counters, since));
    texts.ShortCounters =
        QString::fromStdString(ShortCountersStatusText(m_traffic.Counters, since));
    if (FaultsStatus && !FaultsStatus->isHidden())
        texts.Faults = FaultsStatus->toolTip();
    const int width = statusBar()->contentsRect().width();
    // The tick asks every 100 ms; the bar is laid out again only when its
    // texts or its width changed.
    if (texts == m_statusTexts && width == m_statusWidth)
        return;
    m_statusTexts = texts;
    m_statusWidth = width;
    fitStatusBar();
}

void TMainForm::fitStatusBar()
{
    const TStatusBarTexts &texts = m_statusTexts;
    const QFontMetrics metrics = CountersStatus->fontMetrics();
    const QFontMetrics faultsMetrics =
        FaultsStatus ? FaultsStatus->fontMetrics() : CountersStatus->fontMetrics();
    // The widgets' own margins, measured rather than guessed.
    const int countersExtra = std::max(
        0, CountersStatus->sizeHint().width() - metrics.horizontalAdvance(CountersStatus->text()));
    const int faultsExtra =
        FaultsStatus ? std::max(0, FaultsStatus->sizeHint().width() -
                                       faultsMetrics.horizontalAdvance(FaultsStatus->text()))
                     : 0;
    TStatusBarTexts named = texts;
    named.PortName = PortStatus->FullText().mid(texts.PortState.size() + 3);
    const TStatusBarFit fit = FitStatusBar(named, m_statusWidth, metrics, faultsMetrics,
                                           countersExtra, faultsExtra, StatusBarSpacing);
    if (FaultsStatus && !texts.Faults.isEmpty()) {
        FaultsStatus->setText(fit.Faults);
        FaultsStatus->setFixedWidth(faultsMetrics.horizontalAdvance(fit.Faults) + faultsExtra);
    }
    CountersStatus->setText(metrics.elidedText(fit.Counters, Qt::ElideRight,
                                               std::max(0, fit.CountersWidth - countersExtra)));
    CountersStatus->setFixedWidth(fit.CountersWidth);
    CountersStatus->setVisible(fit.CountersWidth > countersExtra);
    CountersStatus->setToolTip(texts.Counters +
                               QStringLiteral("\nClick to open the traffic monitor"));
}

void TMainForm::TrafficMonitor1Click()
{
    if (!MonitorForm) {
        MonitorForm = new TMonitorForm(m_traffic, this);
        MonitorForm->SlaveIds = [this] { return m_slaves.Ids(); };
        PlaceBesideOwner(*MonitorForm, *this);
    }
    MonitorForm->Refresh();
    MonitorForm->show();
    MonitorForm->raise();
    MonitorForm->activateWindow();
}

void TMainForm::SetTrace(TCsvTrace *Trace)
{
    m_traffic.Trace = Trace;
    m_traceFailureReported = false;
}

void TMainForm::TrafficTick()
{
    m_traffic.Take(m_frames);
    m_network->Tick(m_traffic);
    RemoteControl->AfterTrafficTick();
    updateStatusBar();
    if (MonitorForm && MonitorForm->isVisible())
        MonitorForm->Refresh();
    if (TCsvTrace *trace = m_traffic.Trace) {
        trace->Flush();
        // The emulator goes on serving its master; the trace just stops.
        if (!trace->Ok() && !m_traceFailureReported) {
            m_traceFailureReported = true;
            std::fprintf(stderr, "quorlin: writing the trace failed; the trace stops here\n");
        }
    }
}

QWidget *TMainForm::FindPanelControl(int RegType, int n) const
{
    // Tag 0 marks the controls that name no register.
    if (n <= 0)
        return nullptr;
    QGroupBox *group = nullptr;
    int tag = n;
    switch (RegType) {
    case RegTypeCoil:
        group = GroupBox1;
        break;
    case RegTypeDiscreteInput:
        group = GroupBox2;
        tag = n + 100;
        break;
    case RegTypeInputReg:
        group = GroupBox3;
        break;
    case RegTypeHoldingReg:
        group = GroupBox4;
        tag = n + 100;
        break;
    default:
        return nullptr;
    }
    for (QObject *child : group->children())
        if (child->isWidgetType() && Tag(child) == tag)
            return static_cast<QWidget *>(child);
    return nullptr;
}

void TMainForm::Tick()
{
    // Scripts only queue writes: they run with the engine free to answer.
    RunScripts(m_bindingList, m_slaves);
    {
        // The one lock of the line, held briefly: the writes go in, and the
        // selected slave is copied for the panels and the register table.
        std::lock_guard<std::mutex> lock(m_slaves.Lock());
        for (int i = 0; i < m_slaves.Count(); ++i)
            m_slaves.At(i).ApplyPendingWrites();
        copyView();
    }
    paintPanels();
    if (m_registersForm)
        m_registersForm->Refresh();
    RemoteControl->AfterTick();
}

void TMainForm::copyView()
{
    // Only what the window shows is copied: the panels' registers and the
    // register table's visible rows. Another slave, or other sizes, take one
    // whole copy (of the pages in use) first.
    if (m_viewOf != m_current || m_view.TableSize(RegTypeCoil) != m_current->TableSize(RegTypeCoil) ||
        m_view.TableSize(RegTypeHoldingReg) != m_current->TableSize(RegTypeHoldingReg)) {
        m_view = *m_current;
        m_viewOf = m_current;
        return;
    }
    m_view.CopyRange(*m_current, RegTypeCoil, 1, 32);
    m_view.CopyRange(*m_current, RegTypeDiscreteInput, 1, 32);
    m_view.CopyRange(*m_current, RegTypeInputReg, 1, 6);
    m_view.CopyRange(*m_current, RegTypeHoldingReg, 1, 6);
    if (m_registersForm) {
        int type = 0, first = 1, last = 0;
        m_registersForm->VisibleRegisters(type, first, last);
        m_view.CopyRange(*m_current, type, first, last);
    }
}

void TMainForm::RefreshPanels()
{
    {
        std::lock_guard<std::mutex> lock(m_slaves.Lock());
        m_view = *m_current;
        m_viewOf = m_current;
    }
    m_panelsShown.reset(); // every control is looked at again
    paintPanels();
}

void TMainForm::paintPanels()
{
    // The panels show 76 values; while none of them changed (an idle line,
    // ten ticks a second) no control is even asked what it shows.
    TPanelValues shown{};
    std::array<uint8_t, 64> bits{};
    m_view.Coils.Read(1, 32, bits.data());
    m_view.DiscreteInputs.Read(1, 32, bits.data() + 32);
    std::copy(bits.begin(), bits.end(), shown.begin());
    m_view.InputRegs.Read(1, 6, shown.data() + 64);
    m_view.HoldingRegs.Read(1, 6, shown.data() + 70);
    if (m_panelsShown && *m_panelsShown == shown)
        return;
    m_panelsShown = shown;

    auto refreshLamp = [](TShape *Lamp, uint8_t Bit) {
        const bool shows = Lamp->BrushColor() == LampOnColor;
        if (shows != (Bit != 0))
            Lamp->SetBrushColor(Bit ? LampOnColor : LampOffColor);
    };
    for (int n = 1; n <= 32; ++n) {
        refreshLamp(Shapes[n - 1], m_view.Coils[n]);
        refreshLamp(Shapes[32 + n - 1], m_view.DiscreteInputs[n]);
    }

    auto refreshBox = [](QLineEdit *Box, uint16_t Value) {
        bool ok = false;
        const uint v = Box->text().toUInt(&ok, 10);
        if (!ok || v != Value)
            Box->setText(QString::number(Value));
    };
    // Register n of each word family sits in Edits at the box's number - 1.
    static constexpr int boxOfRegister[6] = {1, 3, 5, 2, 4, 6};
    for (int n = 1; n <= 6; ++n) {
        refreshBox(Edits[boxOfRegister[n - 1] - 1], m_view.InputRegs[n]);
        refreshBox(Edits[boxOfRegister[n - 1] + 6 - 1], m_view.HoldingRegs[n]);
    }

    auto refreshBar = [](QScrollBar *Bar, uint16_t Value) {
        if (Bar->value() != Value) {
            const QSignalBlocker quiet(Bar);
            Bar->setValue(Value);
        }
    };
    auto refreshHex = [](QLabel *Label, uint16_t Value) {
        const QString text = hex4(Value);
        if (Label->text() != text)
            Label->setText(text);
    };
    static constexpr int inputHex[2] = {25, 26};
    static constexpr int holdingHex[2] = {28, 27};
    for (int n = 1; n <= 2; ++n) {
        refreshBar(ScrollBars[n - 1], m_view.InputRegs[n]);
        refreshBar(ScrollBars[2 + n - 1], m_view.HoldingRegs[n]);
        refreshHex(Labels[inputHex[n - 1] - 1], m_view.InputRegs[n]);
        refreshHex(Labels[holdingHex[n - 1] - 1], m_view.HoldingRegs[n]);
    }
}

void TMainForm::Shape1MouseDown(TShape *Sender)
{
    const int t = Tag(Sender);
    if (t < 100)
        m_current->QueueWrite(RegTypeCoil, t, 1 - m_view.Coils[t]);
    else
        m_current->QueueWrite(RegTypeDiscreteInput, t - 100, 1 - m_view.DiscreteInputs[t - 100]);
}

void TMainForm::Edit1Click(TNumberBox *Sender)
{
    if (!AskForm)
        return;
    AskForm->Edit1->setText(Sender->text());
    AskForm->Edit1->selectAll();
    AskForm->Edit1->setFocus();
    if (AskForm->exec() != QDialog::Accepted)
        return;
    const QString text = AskForm->Edit1->text();
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (!ok) {
        m_dialogs->ShowError(this, QStringLiteral("'%1' is not a valid integer value").arg(text));
        return;
    }
    const int t = Tag(Sender);
    if (t < 100)
        m_current->QueueWrite(RegTypeInputReg, t, uint32_t(v));
    else
        m_current->QueueWrite(RegTypeHoldingReg, t - 100, uint32_t(v));
}

void TMainForm::ScrollBar1Change(QScrollBar *Sender, int Position)
{
    // The bar now shows the user's position: the tick must look at it even
    // if the value it ends up with is the one shown before.
    m_panelsShown.reset();
    const int t = Tag(Sender);
    if (t < 100)
        m_current->QueueWrite(RegTypeInputReg, t - 10, uint32_t(Position));
    else
        m_current->QueueWrite(RegTypeHoldingReg, t - 110, uint32_t(Position));
}

void TMainForm::LoadSerialDialog(const TSerialValues &Values)
{
    ConfForm->LoadSerialDialog(Values);
}

TSerialValues TMainForm::ReadSerialDialog() const
{
    TSerialValues values = ConfForm->SerialValues();
    // "MBid" is the first slave's. The dialog shows the selected slave's id,
    // which is that one only while the first slave's tab is selected; an id
    // that is not yet applied but taken by another slave is not saved either.
    const TRegisterImage &first = m_slaves.First();
    const TRegisterImage *holder = m_slaves.Find(values.MBid);
    if (m_current != &first || (holder != nullptr && holder != &first))
        values.MBid = first.MBid;
    return values;
}

void TMainForm::LoadScriptLibrary()
{
    m_scripts.LoadScriptLibrary(ScriptLibraryDir(m_locations));
    // Without this line a missing library only shows as a script list
    // holding "(Empty Script)" and bindings that write 0.
    if (!m_scripts.LoadError().empty())
        std::fprintf(stderr, "quorlin: %s; no scripts are offered\n",
                     m_scripts.LoadError().c_str());
}

void TMainForm::ClearReceiveBuffer()
{
    const auto hold = Comm1->HoldLine();
    m_engine->RxCount = 0;
}

void TMainForm::StartTimer()
{
    Timer1->start();
}

void TMainForm::StopTimer()
{
    Timer1->stop();
}

void TMainForm::ClosePort()
{
    // The listeners' thread too: nothing answers from the images after this.
    m_network->Stop();
    Comm1->Close(); // its thread first: the engine is then this thread's alone
    m_engine->CancelReply();
}

bool TMainForm::StayOnTop() const
{
    return StayOnTop1->isChecked();
}

void TMainForm::SetStayOnTop(bool On)
{
    StayOnTop1->setChecked(On);
    const bool visible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, On);
    // Changing the flags hides a shown window.
    if (visible)
        show();
}

void TMainForm::StayOnTop1Click()
{
    // The checkable action has already flipped its mark; the command flips
    // it from the state before the click, together with the window.
    StayOnTop1->setChecked(!StayOnTop1->isChecked());
    m_profile->StayOnTop1Click();
}

void TMainForm::ApplyFaults(const TFaultSettings &Faults)
{
    {
        std::lock_guard<std::mutex> lock(m_engine->Lock());
        m_engine->Faults().Load(Faults);
    }
    // Connections and the line take up timed faults now, not at their next request.
    if (m_network)
        m_network->Server().FaultsChanged();
    Comm1->WakeLine();
    InjectFaults1->setChecked(Faults.Enabled != 0);
    showFaultsStatus(Faults);
}

void TMainForm::showFaultsStatus(const TFaultSettings &Faults)
{
    // Slaves with faults of their own count as faults on.
    QStringList own;
    for (const auto &[id, faults] : m_profile->SlaveFaults)
        if (faults.Enabled != 0)
            own << QString::number(id);
    const bool on = Faults.Enabled != 0 || !own.isEmpty();
    // A master that fails against a slave injecting faults on purpose must
    // not send anyone looking for a broken line: the status bar says so, loud.
    if (on && !FaultsStatus) {
        FaultsStatus = new QLabel(statusBar());
        FaultsStatus->setObjectName(QStringLiteral("FaultsStatus"));
        FaultsStatus->setStyleSheet(QStringLiteral(
            "QLabel { background: #c00000; color: white; font-weight: bold; padding: 1px 6px; }"));
        statusBar()->addPermanentWidget(FaultsStatus);
    }
    if (FaultsStatus) {
        QString summary = Faults.Enabled != 0 ? FaultsSummary(NormalisedFaults(Faults))
                                              : QStringLiteral("FAULTS ON:");
        if (!own.isEmpty())
            summary += (Faults.Enabled != 0 ? QStringLiteral(", ") : QStringLiteral(" ")) +
                       QStringLiteral("own faults of slave %1").arg(own.join(QStringLiteral(", ")));
        FaultsStatus->setText(summary);
        FaultsStatus->setToolTip(summary);
        FaultsStatus->setVisible(on);
        m_statusKey.reset();
        updateStatusBar(); // the warning takes its room at once
    }
}

void TMainForm::Faults1Click()
{
    if (!FaultsForm) {
        FaultsForm = new TFaultsForm(this);
        FaultsForm->CountsSource = [this] {
            std::lock_guard<std::mutex> lock(m_engine->Lock());
            return m_engine->Faults().Counts();
        };
        FaultsForm->SlaveCountsSource = [this](int Id) -> std::optional<TFaultCounts> {
            std::lock_guard<std::mutex> lock(m_engine->Lock());
            const TFaultPlan *own = m_engine->Faults().SlavePlan(Id);
            return own != nullptr ? std::optional<TFaultCounts>(own->Counts()) : std::nullopt;
        };
        FaultsForm->FailNextSource = [this] {
            std::lock_guard<std::mutex> lock(m_engine->Lock());
            return m_engine->Faults().FailNextLeft();
        };
        FaultsForm->FailNextSink = [this](const TFailNext &Order) {
            std::lock_guard<std::mutex> lock(m_engine->Lock());
            return m_engine->Faults().FailNext(Order);
        };
    }
    FaultsForm->LoadFaults(m_profile->Faults);
    FaultsForm->LoadSlaveFaults(m_slaves.Ids(), m_profile->SlaveFaults);
    if (FaultsForm->exec() != QDialog::Accepted)
        return;
    SetFaults(FaultsForm->Faults());
    SetSlaveFaults(FaultsForm->SlaveFaults());
}

void TMainForm::ApplySlaveFaults(const std::map<int, TFaultSettings> &SlaveFaults)
{
    {
        std::lock_guard<std::mutex> lock(m_engine->Lock());
        TFaultPlan &plan = m_engine->Faults();
        plan.ClearSlaves();
        for (const auto &[id, faults] : SlaveFaults)
            plan.LoadSlave(id, faults);
    }
    showFaultsStatus(m_profile->Faults);
}

void TMainForm::SetSlaveFaults(const std::map<int, TFaultSettings> &SlaveFaults)
{
    std::map<int, TFaultSettings> chosen;
    for (const auto &[id, faults] : SlaveFaults)
        chosen[id] = NormalisedFaults(faults);
    if (chosen == m_profile->SlaveFaults)
        return;
    // Only the sections that changed start counting afresh.
    {
        std::lock_guard<std::mutex> lock(m_engine->Lock());
        TFaultPlan &plan = m_engine->Faults();
        for (const auto &[id, faults] : chosen) {
            const auto was = m_profile->SlaveFaults.find(id);
            if (was == m_profile->SlaveFaults.end() || !(was->second == faults))
                plan.LoadSlave(id, faults);
        }
        for (const auto &[id, faults] : m_profile->SlaveFaults)
            if (!chosen.contains(id))
                plan.LoadSlave(id, TFaultSettings{});
    }
    m_profile->SlaveFaults = std::move(chosen);
    m_profile->ProfileSaved = false;
    showFaultsStatus(m_profile->Faults);
}

void TMainForm::SetFaults(const TFaultSettings &Faults)
{
    const TFaultSettings chosen = NormalisedFaults(Faults);
    // OK without a change keeps the counts running.
    if (chosen == m_profile->Faults)
        return;
    m_profile->Faults = chosen;
    ApplyFaults(chosen);
    m_profile->ProfileSaved = false;
}

void TMainForm::ApplyNetwork(const TNetworkSettings &Network)
{
    m_network->Apply(Network);
}

void TMainForm::Network1Click()
{
    const bool noSerial = m_network->NoSerial();
    if (!m_network->Edit(m_profile->Network))
        return;
    m_profile->ProfileSaved = false;
    // The port opens, or is left alone, as the choice now says.
    if (m_network->NoSerial() != noSerial)
        ApplySerialSettings();
}

void TMainForm::InjectFaults1Click()
{
    TFaultSettings f = m_profile->Faults;
    f.Enabled = InjectFaults1->isChecked() ? 1 : 0;
    m_profile->Faults = f;
    ApplyFaults(f);
    m_profile->ProfileSaved = false;
}

void TMainForm::CreateLists()
{
    for (int i = 0; i < m_slaves.Count(); ++i)
        m_slaves.At(i).ClearPendingWrites();
    m_bindingList.clear();
    m_scripts.ScriptList.clear();
}

void TMainForm::CreateConfigDialog()
{
    if (!ConfForm)
        ConfForm = new TConfForm(this);
    // The dialog edits the selected slave's id; another slave's is refused.
    ConfForm->IdInUse = [this](int Id) {
        const TRegisterImage *holder = m_slaves.Find(Id);
        return holder != nullptr && holder != m_current;
    };
}

void TMainForm::ReleaseImage()
{
    for (int i = 0; i < m_slaves.Count(); ++i)
        m_slaves.At(i).ClearPendingWrites();
}

void TMainForm::CloseMainWindow()
{
    close();
}

void TMainForm::ApplySerialSettings()
{
    // The values file named at start is read once the profile has been
    // loaded (so its slaves are known) and before the port opens, so a
    // master never sees the device without them.
    if (!m_startValuesTaken) {
        m_startValuesTaken = true;
        const QString map = qApp->property(StartMapProperty).toString();
        if (!map.isEmpty())
            m_startError = LoadMap(map);
        const QString path = qApp->property(StartValuesProperty).toString();
        if (!path.isEmpty() && m_startError.isEmpty())
            m_startError = ImportValuesFile(path, *m_registerSource);
        if (!m_startError.isEmpty())
            return; // the port stays closed; the main sequence ends the program
        // Stored now rather than at the first tick: a master that polls as
        // soon as the port opens reads them, and its writes are not undone.
        std::lock_guard<std::mutex> lock(m_slaves.Lock());
        for (int i = 0; i < m_slaves.Count(); ++i)
            m_slaves.At(i).ApplyPendingWrites();
        m_view = *m_current;
    }
    // The selected slave takes the dialog's id, its bindings with it; an id
    // another slave has (only a profile or a cancelled edit can leave one
    // there) is put back to the slave's own.
    const int wanted = ConfForm->SpinEdit1->Value();
    if (!ChangeSlaveId(m_slaves, m_bindingList, m_current->MBid, wanted))
        ConfForm->SpinEdit1->SetValue(m_current->MBid);
    {
        const auto hold = Comm1->HoldLine();
        m_engine->CancelReply();
    }
    m_engine->SetMode(ConfForm->AsciiChosen() ? TSerialMode::Ascii : TSerialMode::Rtu);
    m_engine->SetFraming(ConfForm->StrictFramingChosen() ? TSerialFraming::Strict
                                                         : TSerialFraming::Length);
    if (m_network->NoSerial()) {
        // Neither opened nor retried: the network alone serves the slaves.
        Comm1->Close();
        if (TabControl1->Tabs()->count() > 0)
            TabControl1->Tabs()->setTabText(0, QStringLiteral("MB id %1").arg(m_current->MBid));
        setWindowTitle(m_profile->TitleText + QStringLiteral(" - network only"));
        syncSlaveTabs();
        updatePortStatus();
        return;
    }
    ConfForm->ApplySerialSettings(*m_current, *Comm1, *TabControl1->Tabs(), *this,
                                  m_profile->TitleText);
    syncSlaveTabs();
    updatePortStatus(); // the line settings may have changed on an open port
}

void TMainForm::LoadSlaves(int FirstId, const TProfileSlaves &Slaves, bool NewProfile)
{
    m_slaves.Assign(FirstId, Slaves.MoreIds);
    m_slaves.AcceptBroadcast = Slaves.Broadcast;
    AcceptBroadcast1->setChecked(Slaves.Broadcast);
    // Maps are read before the lock is taken: the engine keeps answering.
    std::map<int, std::vector<TMapItem>> maps;
    for (const auto &[id, options] : Slaves.Options) {
        if (options.Map.empty())
            continue;
        const QString path = MapPath(Slaves.Folder, options.Map);
        const QString error = ReadMapFile(path, id, maps[id]);
        if (!error.isEmpty()) {
            std::fprintf(stderr, "quorlin: %s\n", qPrintable(error));
            statusBar()->showMessage(error);
        }
    }
    {
        std::lock_guard<std::mutex> lock(m_slaves.Lock());
        for (int i = 0; i < m_slaves.Count(); ++i) {
            TRegisterImage &image = m_slaves.At(i);
            const auto found = Slaves.Options.find(image.MBid);
            SetUpSlave(image, found != Slaves.Options.end() ? found->second : TSlaveOptions{},
                       maps[image.MBid]);
        }
    }
    loadDisplays(Slaves, maps);
    if (NewProfile) {
        std::lock_guard<std::mutex> lock(m_slaves.Lock());
        for (int i = 0; i < m_slaves.Count(); ++i) {
            m_slaves.At(i).ClearPendingWrites();
            m_slaves.At(i).ClearImage();
        }
    }
    // The dialog is loaded with the first slave's id next.
    m_current = &m_slaves.First();
    syncSlaveTabs();
}

QString TMainForm::LoadMap(const QString &Path)
{
    std::vector<TMapItem> items;
    const QString error = ReadMapFile(Path, m_current->MBid, items);
    if (!error.isEmpty())
        return error;
    std::lock_guard<std::mutex> lock(m_slaves.Lock());
    for (int i = 0; i < m_slaves.Count(); ++i) {
        TRegisterImage &image = m_slaves.At(i);
        if (MapExtent(items, image.MBid) > 0) {
            SetUpSlave(image, image.Options, items);
            std::vector<TMapItem> own = items;
            std::erase_if(own, [&](const TMapItem &i) { return i.Slave != image.MBid; });
            m_displays.Of(&image).SetMap(std::move(own));
        }
    }
    return {};
}

TProfileSlaves TMainForm::ReadSlaves() const
{
    TProfileSlaves slaves;
    slaves.Broadcast = m_slaves.AcceptBroadcast;
    for (int id : m_slaves.Ids())
        if (id != m_slaves.First().MBid)
            slaves.MoreIds.push_back(id);
    // Only this thread changes the options: no lock to read them.
    for (int i = 0; i < m_slaves.Count(); ++i)
        if (!(m_slaves.At(i).Options == TSlaveOptions{}))
            slaves.Options[m_slaves.At(i).MBid] = m_slaves.At(i).Options;
    readDisplays(slaves);
    return slaves;
}

void TMainForm::buildSlaveTabs()
{
    QTabBar *tabs = TabControl1->Tabs();
    connect(tabs, &QTabBar::currentChanged, this, [this](int Index) {
        if (Index >= 0 && Index < m_slaves.Count())
            SelectSlave(m_slaves.At(Index).MBid);
    });
    tabs->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(tabs, &QWidget::customContextMenuRequested, this, [this, tabs](const QPoint &At) {
        QMenu *menu = BuildSlaveMenu(tabs->tabAt(At));
        menu->exec(tabs->mapToGlobal(At));
        menu->deleteLater();
    });
}

void TMainForm::syncSlaveTabs()
{
    QTabBar *tabs = TabControl1->Tabs();
    const QSignalBlocker quiet(tabs);
    while (tabs->count() < m_slaves.Count())
        tabs->addTab(QString());
    while (tabs->count() > m_slaves.Count())
        tabs->removeTab(tabs->count() - 1);
    for (int i = 0; i < m_slaves.Count(); ++i)
        tabs->setTabText(i, QStringLiteral("MB id ") + QString::number(m_slaves.At(i).MBid) +
                                (m_slaves.At(i).Options.Offline ? QStringLiteral(" (offline)")
                                                                : QString()));
    tabs->setCurrentIndex(m_slaves.IndexOf(m_current->MBid));
    // The strip is sized by its tabs, up to the control's width, beyond which
    // it scrolls.
    tabs->resize(tabs->sizeHint().boundedTo(
        QSize(TabControl1->width() - 4, std::max(tabs->height(), tabs->sizeHint().height()))));
    TabControl1->update();
}

void TMainForm::SelectSlave(int Id)
{
    TRegisterImage *image = m_slaves.Find(Id);
    m_current = image != nullptr ? image : &m_slaves.First();
    if (ConfForm)
        ConfForm->SpinEdit1->SetValue(m_current->MBid);
    syncSlaveTabs();
    RefreshPanels();
}

void TMainForm::slavesChanged(int ShowId)
{
    // A removed slave's tab gives way to the first slave's. The selected
    // image may be gone: it is only compared, not read, until found.
    bool stays = false;
    for (int i = 0; i < m_slaves.Count() && !stays; ++i)
        stays = &m_slaves.At(i) == m_current;
    if (!stays)
        m_current = &m_slaves.First();
    // Before a new slave can take a freed image's address.
    m_displays.KeepOnly([this](const TRegisterImage *Image) {
        for (int i = 0; i < m_slaves.Count(); ++i)
            if (&m_slaves.At(i) == Image)
                return true;
        return false;
    });
    if (ShowId == 0)
        ShowId = m_current->MBid;
    SelectSlave(ShowId);
    // A change from elsewhere (the remote-control API) while the Slaves
    // dialog is open shows in its list at once.
    if (SlavesForm && SlavesForm->isVisible())
        SlavesForm->Refill();
    m_profile->ProfileSaved = false;
}

QMenu *TMainForm::BuildSlaveMenu(int TabIndex)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("SlaveMenu"));
    menu->addAction(QStringLiteral("&Add Slave..."), this, [this] { m_slaveCommands->AddSlave(); });
    if (TabIndex >= 0 && TabIndex < m_slaves.Count()) {
        const int id = m_slaves.At(TabIndex).MBid;
        QAction *remove = menu->addAction(QStringLiteral("&Remove Slave %1").arg(id), this,
                                          [this, id] { m_slaveCommands->RemoveSlave(id); });
        remove->setEnabled(m_slaves.Count() > 1);
        QAction *offline = menu->addAction(QStringLiteral("Slave %1 &Offline").arg(id));
        offline->setObjectName(QStringLiteral("SlaveOffline"));
        offline->setCheckable(true);
        offline->setChecked(m_slaveCommands->IsOffline(id));
        connect(offline, &QAction::toggled, this,
                [this, id](bool On) { m_slaveCommands->SetOffline(id, On); });
        menu->addAction(QStringLiteral("Slave &Options %1...").arg(id), this,
                        [this, id] { SlaveOptions1Click(id); });
    }
    menu->addSeparator();
    menu->addAction(QStringLiteral("S&laves..."), this, &TMainForm::Slaves1Click);
    return menu;
}

void TMainForm::Slaves1Click()
{
    if (!SlavesForm) {
        SlavesForm = new TSlavesForm(*m_slaveCommands, this);
        SlavesForm->EditOptions = [this](int Id) { SlaveOptions1Click(Id); };
    }
    SlavesForm->Refill(m_current->MBid);
    SlavesForm->exec();
}

void TMainForm::AcceptBroadcast1Click()
{
    // The checkable action has flipped its mark already.
    m_slaves.AcceptBroadcast = AcceptBroadcast1->isChecked();
    m_profile->ProfileSaved = false;
}

void TMainForm::SerialOptions1Click()
{
    if (ConfForm->exec() != QDialog::Accepted)
        return;
    ApplySerialSettings();
    m_profile->ProfileSaved = false;
}

void TMainForm::NewProfile1Click()
{
    m_profile->NewProfile1Click();
}
void TMainForm::OpenProfile1Click()
{
    m_profile->OpenProfile1Click();
}
void TMainForm::SaveProfile1Click()
{
    m_profile->SaveProfile1Click();
}
void TMainForm::SaveAsProfile1Click()
{
    m_profile->SaveAsProfile1Click();
}
void TMainForm::Exit1Click()
{
    m_profile->Exit1Click();
}

void TMainForm::AddPLC2Click()
{
    if (m_scriptCommands)
        m_scriptCommands->AddPLC2Click();
}

void TMainForm::DeletePLC1Click()
{
    if (m_scriptCommands)
        m_scriptCommands->DeletePLC1Click();
}

void TMainForm::AddScript1Click()
{
    if (m_scriptCommands)
        m_scriptCommands->AddScript1Click();
}

void TMainForm::HelpTopics1Click()
{
    if (!m_helpViewer)
        m_helpViewer = new THelpViewer(this);
    // The help file travels with the program, like scripts.dll.
    m_helpViewer->ShowContents(HelpFilePath(QString::fromStdString(m_locations.ManualDir)));
}

void TMainForm::About2Click()
{
    if (AboutBox)
        AboutBox->About2Click();
}

void TMainForm::buildRegisterCommands()
{
    m_registerSource = std::make_unique<TMainRegisterSource>(*this);
    // File: the values commands stand above the separator before Exit.
    QAction *beforeExit = nullptr;
    for (QAction *a : File1->actions())
        if (a->objectName() == QLatin1String("N1"))
            beforeExit = a;
    ExportValues1 = new QAction(QStringLiteral("Export &Values..."), File1);
    ExportValues1->setObjectName(QStringLiteral("ExportValues1"));
    ImportValues1 = new QAction(QStringLiteral("&Import Values..."), File1);
    ImportValues1->setObjectName(QStringLiteral("ImportValues1"));
    QAction *separator = new QAction(File1);
    separator->setSeparator(true);
    separator->setObjectName(QStringLiteral("N6"));
    File1->insertActions(beforeExit, {separator, ExportValues1, ImportValues1});
    connect(ExportValues1, &QAction::triggered, this, &TMainForm::ExportValues1Click);
    connect(ImportValues1, &QAction::triggered, this, &TMainForm::ImportValues1Click);

    // View sits between Settings and Help.
    if (!View1) {
        View1 = new QMenu(QStringLiteral("&View"), this);
        View1->setObjectName(QStringLiteral("View1"));
        menuBar()->insertMenu(About1->menuAction(), View1);
    }
    Registers1 = View1->addAction(QStringLiteral("&Registers"));
    Registers1->setObjectName(QStringLiteral("Registers1"));
    Registers1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(Registers1, &QAction::triggered, this, &TMainForm::Registers1Click);
    addAction(Registers1);
}

void TMainForm::Registers1Click()
{
    if (!m_registersForm) {
        m_registersForm = new TRegistersForm(*m_registerSource, *m_dialogs, this);
        PlaceBesideOwner(*m_registersForm, *this);
        connect(m_registersForm, &TRegistersForm::ExportRequested, this,
                &TMainForm::ExportValues1Click);
        connect(m_registersForm, &TRegistersForm::ImportRequested, this,
                &TMainForm::ImportValues1Click);
        connect(m_registersForm, &TRegistersForm::MapImportRequested, this,
                &TMainForm::ImportMap1Click);
        connect(m_registersForm, &TRegistersForm::MapExportRequested, this,
                &TMainForm::ExportMap1Click);
        connect(m_registersForm, &TRegistersForm::FormatsChanged, this,
                [this] { m_profile->ProfileSaved = false; });
    }
    m_registersForm->show();
    m_registersForm->raise();
    m_registersForm->activateWindow();
}

void TMainForm::ExportValues1Click()
{
    QWidget *parent = m_registersForm && m_registersForm->isActiveWindow()
                          ? static_cast<QWidget *>(m_registersForm)
                          : this;
    if (m_valuesDirectory.isEmpty())
        m_valuesDirectory = QString::fromStdString(m_locations.DataDir);
    ExportValuesCommand(parent, *m_registerSource, *m_dialogs, m_valuesDirectory);
}

void TMainForm::ImportValues1Click()
{
    QWidget *parent = m_registersForm && m_registersForm->isActiveWindow()
                          ? static_cast<QWidget *>(m_registersForm)
                          : this;
    if (m_valuesDirectory.isEmpty())
        m_valuesDirectory = QString::fromStdString(m_locations.DataDir);
    ImportValuesCommand(parent, *m_registerSource, *m_dialogs, m_valuesDirectory);
}

void TMainForm::CloseWithoutQuestion()
{
    // A dialog left open would keep its own event loop, and so the program,
    // running after the main window has gone.
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<QDialog *>(w); dialog && dialog->isVisible())
            dialog->reject();
    m_profile->CloseUnattended();
}

bool TMainForm::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Watched == QCoreApplication::instance() && Event->type() == QEvent::Quit &&
        !m_profile->Closed()) {
        CloseWithoutQuestion();
        // Closing the last window quits as usual; the quit is asked for again
        // in case the window's close did not get that far.
        QCoreApplication::quit();
        return true;
    }
    return QMainWindow::eventFilter(Watched, Event);
}

void TMainForm::closeEvent(QCloseEvent *Event)
{
    if (!m_profile->FormCloseQuery()) {
        Event->ignore();
        return;
    }
    m_profile->FormClose();
    Event->accept();
}

} // namespace quorlin
