// SPDX-License-Identifier: MIT
#include "ui/mainunit.h"
#include "serial/ui/designfit.h"
#include "serial/ui/placement.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QMenuBar>
#include <QScreen>
#include <QScrollBar>
#include <QTabBar>
#include <QTimer>
#include <QVBoxLayout>

#include <cstdio>

#include "engine/modbusslave.h"
#include "profile/profiledialogs.h"
#include "profile/profilemanager.h"
#include "registers/registersform.h"
#include "registers/registersource.h"
#include "registers/valuesfile.h"
#include "scripts/ui/addscript.h"
#include "scripts/ui/delscript.h"
#include "scripts/ui/scriptcommands.h"
#include "serial/commint.h"
#include "serial/timeouttimer.h"
#include "serial/ui/connectionreport.h"
#include "ui/aboutunit.h"
#include "ui/askunit.h"
#include "ui/helpviewer.h"
#include "ui/panelcontrols.h"

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

// The main window's one slave as the register table and the values files see it.
class TMainRegisterSource : public IRegisterSource
{
  public:
    TMainRegisterSource(TRegisterImage &Image, const TBindingList &Bindings)
        : m_image(Image), m_bindings(Bindings)
    {
    }
    int SelectedSlave() const override { return m_image.MBid; }
    TRegisterImage &SelectedImage() override { return m_image; }
    std::vector<TSlaveImage> Slaves() const override { return {{m_image.MBid, &m_image}}; }
    TRegisterImage *SlaveImage(int Id) override { return Id == m_image.MBid ? &m_image : nullptr; }
    std::vector<std::pair<TRegisterRef, std::string>> SelectedScripts() const override
    {
        std::vector<std::pair<TRegisterRef, std::string>> scripts;
        for (const TScriptBinding &b : m_bindings)
            scripts.push_back({{int32_t(b.RegType), int32_t(b.RegAdr)}, b.Name});
        return scripts;
    }

  private:
    TRegisterImage &m_image;
    const TBindingList &m_bindings;
};

} // namespace

TMainForm::TMainForm(QWidget *Parent, const QString &ProgramDir, IProfileDialogs *Dialogs)
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

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(100);
    connect(Timer1, &QTimer::timeout, this, &TMainForm::Tick);
    TimeOutTimer = new TQtTimeOutTimer(this, 100);
    TimeOutTimer->setObjectName(QStringLiteral("TimeOutTimer"));

    Comm1 = new TComm(this);
    Comm1->setObjectName(QStringLiteral("Comm1"));
    Comm1->SetMonitorEvents(commEvents({evRxChar}));
    Comm1->SetOptions(0);
    m_engine = std::make_unique<TModbusSlave>(m_image, *Comm1, *TimeOutTimer);
    TimeOutTimer->OnTimer = [this] { m_engine->TimeOutTimerTimer(); };
    Comm1->OnRxChar = [this](TCustomComm *, int Count) { m_engine->Comm1RxChar(Count); };

    // Start-up: everything above exists before the profile manager drives it.
    m_dialogs = Dialogs;
    if (!m_dialogs) {
        m_ownDialogs = std::make_unique<TQtProfileDialogs>();
        m_dialogs = m_ownDialogs.get();
    }
    m_profile = std::make_unique<TProfileManager>(*this, *m_dialogs, m_programDir);
    // The port names are looked up in the settings file the profile reads.
    Comm1->SetIniPath(m_profile->SettingsPath().toStdString());
    // A port that is lost or not there yet is tried again once a second, and
    // the caption and standard error follow it by themselves.
    Comm1->SetRetryInterval(1000);
    new TConnectionReport(*Comm1, *this, [this] { return m_profile->TitleText; });
    m_profile->FormCreate();

    // The end of the desktop session (or any other quit the platform asks
    // for) reaches the application as a quit event, which would close the
    // window with the unsaved-profile question that nobody is there to answer.
    qApp->installEventFilter(this);

    adjustSize();
    CentreOnScreen(*this);
}

TMainForm::~TMainForm()
{
    // Nothing may reach the engine or the image once they start to go.
    m_profile->FormClose();
    Comm1->OnRxChar = nullptr;
    TimeOutTimer->Stop();
}

void TMainForm::CreateDialogs()
{
    AskForm = new TAskForm(this);
    AboutBox = new TAboutBox(this);
    AboutBox->setProgramDir(m_programDir.toStdString());
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

    About1 = bar->addMenu(QStringLiteral("&Help"));
    About1->setObjectName(QStringLiteral("About1"));
    HelpTopics1 = addItem(About1, "HelpTopics1", QStringLiteral("Help &Topics"),
                          &TMainForm::HelpTopics1Click);
    addSeparator(About1, "N3");
    About2 = addItem(About1, "About2", QStringLiteral("A&bout"), &TMainForm::About2Click);

    // The shortcuts work without opening the menu.
    for (QAction *a : {NewProfile1, OpenProfile1, SaveProfile1})
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
    RunScripts(m_bindingList, m_image);
    std::lock_guard<std::mutex> lock(m_image.ImageLock);
    m_image.ApplyPendingWrites();
    RefreshPanels();
    if (m_registersForm)
        m_registersForm->Refresh();
}

void TMainForm::RefreshPanels()
{
    auto refreshLamp = [](TShape *Lamp, uint8_t Bit) {
        const bool shows = Lamp->BrushColor() == LampOnColor;
        if (shows != (Bit != 0))
            Lamp->SetBrushColor(Bit ? LampOnColor : LampOffColor);
    };
    for (int n = 1; n <= 32; ++n) {
        refreshLamp(Shapes[n - 1], m_image.Coils[n]);
        refreshLamp(Shapes[32 + n - 1], m_image.DiscreteInputs[n]);
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
        refreshBox(Edits[boxOfRegister[n - 1] - 1], m_image.InputRegs[n]);
        refreshBox(Edits[boxOfRegister[n - 1] + 6 - 1], m_image.HoldingRegs[n]);
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
        refreshBar(ScrollBars[n - 1], m_image.InputRegs[n]);
        refreshBar(ScrollBars[2 + n - 1], m_image.HoldingRegs[n]);
        refreshHex(Labels[inputHex[n - 1] - 1], m_image.InputRegs[n]);
        refreshHex(Labels[holdingHex[n - 1] - 1], m_image.HoldingRegs[n]);
    }
}

void TMainForm::Shape1MouseDown(TShape *Sender)
{
    const int t = Tag(Sender);
    if (t < 100)
        m_image.QueueWrite(RegTypeCoil, t, 1 - m_image.Coils[t]);
    else
        m_image.QueueWrite(RegTypeDiscreteInput, t - 100, 1 - m_image.DiscreteInputs[t - 100]);
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
        m_image.QueueWrite(RegTypeInputReg, t, uint32_t(v));
    else
        m_image.QueueWrite(RegTypeHoldingReg, t - 100, uint32_t(v));
}

void TMainForm::ScrollBar1Change(QScrollBar *Sender, int Position)
{
    const int t = Tag(Sender);
    if (t < 100)
        m_image.QueueWrite(RegTypeInputReg, t - 10, uint32_t(Position));
    else
        m_image.QueueWrite(RegTypeHoldingReg, t - 110, uint32_t(Position));
}

void TMainForm::LoadSerialDialog(const TSerialValues &Values)
{
    ConfForm->LoadSerialDialog(Values);
}

TSerialValues TMainForm::ReadSerialDialog() const
{
    return ConfForm->SerialValues();
}

void TMainForm::LoadScriptLibrary()
{
    m_scripts.LoadScriptLibrary(m_programDir.toStdString());
    // Without this line a missing library only shows as a script list
    // holding "(Empty Script)" and bindings that write 0.
    if (!m_scripts.LoadError().empty())
        std::fprintf(stderr, "quorlin: %s; no scripts are offered\n",
                     m_scripts.LoadError().c_str());
}

void TMainForm::ClearReceiveBuffer()
{
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
    Comm1->Close();
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

void TMainForm::CreateLists()
{
    m_image.ClearPendingWrites();
    m_bindingList.clear();
    m_scripts.ScriptList.clear();
}

void TMainForm::CreateConfigDialog()
{
    if (!ConfForm)
        ConfForm = new TConfForm(this);
}

void TMainForm::ReleaseImage()
{
    m_image.ClearPendingWrites();
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
        const QString path = qApp->property(StartValuesProperty).toString();
        if (!path.isEmpty())
            m_startError = ImportValuesFile(path, *m_registerSource);
        if (!m_startError.isEmpty())
            return; // the port stays closed; the main sequence ends the program
    }
    ConfForm->ApplySerialSettings(m_image, *Comm1, *TabControl1->Tabs(), *this,
                                  m_profile->TitleText);
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
    m_helpViewer->ShowContents(HelpFilePath(m_programDir));
}

void TMainForm::About2Click()
{
    if (AboutBox)
        AboutBox->About2Click();
}

void TMainForm::buildRegisterCommands()
{
    m_registerSource = std::make_unique<TMainRegisterSource>(m_image, m_bindingList);
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
    View1 = new QMenu(QStringLiteral("&View"), this);
    View1->setObjectName(QStringLiteral("View1"));
    menuBar()->insertMenu(About1->menuAction(), View1);
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
        connect(m_registersForm, &TRegistersForm::ExportRequested, this,
                &TMainForm::ExportValues1Click);
        connect(m_registersForm, &TRegistersForm::ImportRequested, this,
                &TMainForm::ImportValues1Click);
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
        m_valuesDirectory = m_programDir;
    ExportValuesCommand(parent, *m_registerSource, *m_dialogs, m_valuesDirectory);
}

void TMainForm::ImportValues1Click()
{
    QWidget *parent = m_registersForm && m_registersForm->isActiveWindow()
                          ? static_cast<QWidget *>(m_registersForm)
                          : this;
    if (m_valuesDirectory.isEmpty())
        m_valuesDirectory = m_programDir;
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
