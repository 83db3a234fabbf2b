// SPDX-License-Identifier: MIT
#include "serial/ui/configunit.h"

#include <QAbstractItemView>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QTabBar>
#include <QToolButton>

#include "engine/registerimage.h"
#include "platform/serialdevices.h"
#include "serial/commint.h"
#include "serial/ui/adapterdialog.h"
#include "serial/ui/connectionreport.h"
#include "serial/ui/designfit.h"
#include "serial/ui/spinedit.h"

#include <algorithm>
#include <iterator>
#include <mutex>

namespace quorlin
{

TBaudrate BaudRateFromIndex(int Index)
{
    static constexpr TBaudrate table[] = {br300,   br600,   br1200,  br2400,   br4800,  br9600,
                                          br19200, br38400, br57600, br115200, br230400};
    return Index >= 0 && Index < int(std::size(table)) ? table[Index] : br38400;
}

TParity ParityFromIndex(int Index)
{
    static constexpr TParity table[] = {paEven, paOdd, paNone, paMark};
    return Index >= 0 && Index < int(std::size(table)) ? table[Index] : paSpace;
}

TStopbits StopbitsFromIndex(int Index)
{
    static constexpr TStopbits table[] = {sb10, sb15};
    return Index >= 0 && Index < int(std::size(table)) ? table[Index] : sb20;
}

TFlowControl FlowControlFromIndex(int Index)
{
    static constexpr TFlowControl table[] = {fcCTS, fcDefault, fcDTR, fcNone};
    return Index >= 0 && Index < int(std::size(table)) ? table[Index] : fcSoftware;
}

namespace
{

QComboBox *makeList(QWidget *Parent, const char *Name, int Top, const QStringList &Items)
{
    auto *box = new QComboBox(Parent);
    box->setObjectName(QLatin1String(Name));
    box->setEditable(false);
    box->addItems(Items);
    box->setCurrentIndex(-1);
    box->setGeometry(35, Top, 100, 21);
    return box;
}

void selectIndex(QComboBox *Box, int Index)
{
    Box->setCurrentIndex(Index >= 0 && Index < Box->count() ? Index : -1);
}

} // namespace

TConfForm::TConfForm(QWidget *Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("ConfForm"));
    setWindowTitle(QStringLiteral("Configuration"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(169, 319);

    ComboBox1 = makeList(this, "ComboBox1", 40,
                         {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                          QStringLiteral("COM4")});
    // Takes a typed device path as well (a pty, a socat link).
    ComboBox1->setEditable(true);
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setCurrentIndex(-1);
    DeviceList = [] { return EnumerateSerialDevices(); };
    // A long device name does not fit the box: its tooltip holds it whole.
    connect(ComboBox1, &QComboBox::currentTextChanged, ComboBox1,
            [this](const QString &Text) { ComboBox1->setToolTip(Text.trimmed()); });
    ComboBox2 = makeList(
        this, "ComboBox2", 70,
        {QStringLiteral("300 bps"), QStringLiteral("600 bps"), QStringLiteral("1200 bps"),
         QStringLiteral("2400 bps"), QStringLiteral("4800 bps"), QStringLiteral("9600 bps"),
         QStringLiteral("19200 bps"), QStringLiteral("38400 bps"), QStringLiteral("57600 bps"),
         QStringLiteral("115200 bps"), QStringLiteral("230400 bps")});
    ComboBox3 = makeList(this, "ComboBox3", 100,
                         {QStringLiteral("4 Databits"), QStringLiteral("5 Databits"),
                          QStringLiteral("6 Databits"), QStringLiteral("7 Databits"),
                          QStringLiteral("8 Databits")});
    ComboBox4 = makeList(this, "ComboBox4", 130,
                         {QStringLiteral("Even"), QStringLiteral("Odd"), QStringLiteral("None"),
                          QStringLiteral("Mark"), QStringLiteral("Space")});
    ComboBox5 = makeList(this, "ComboBox5", 160,
                         {QStringLiteral("1 Stopbits"), QStringLiteral("1.5 Stopbits"),
                          QStringLiteral("2 Stopbits")});
    ComboBox6 = makeList(this, "ComboBox6", 190,
                         {QStringLiteral("CTS"), QStringLiteral("Default"), QStringLiteral("DTR"),
                          QStringLiteral("None"), QStringLiteral("Software")});

    // ASCII is usually run at 7 data bits; RTU always runs at 8.
    ComboBox7 = makeList(this, "ComboBox7", 220, {QStringLiteral("RTU"), QStringLiteral("ASCII")});
    ComboBox7->setCurrentIndex(0);
    ComboBox8 = makeList(this, "ComboBox8", 250,
                         {QStringLiteral("Length framing"), QStringLiteral("Strict framing")});
    ComboBox8->setCurrentIndex(0);
    ComboBox8->setToolTip(QStringLiteral(
        "Strict framing: an RTU request ends after 3.5 characters of silence, and one with "
        "more than 1.5 characters of silence inside it is dropped, as a real device does"));
    // Beside the mode list, in the room the lists leave: the dialog keeps its size.
    AdapterButton = new QToolButton(this);
    AdapterButton->setObjectName(QStringLiteral("AdapterButton"));
    AdapterButton->setText(QStringLiteral("..."));
    AdapterButton->setToolTip(QStringLiteral("Adapter: RS-485 and echo"));
    AdapterButton->setGeometry(139, 220, 24, 21);
    connect(AdapterButton, &QToolButton::clicked, this, &TConfForm::AdapterButtonClick);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(7, 290, 75, 25);
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(87, 290, 75, 25);
    Button2->setAutoDefault(false);

    SpinEdit1 = new TSpinEdit(this);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setRange(1, 255);
    SpinEdit1->SetValue(1);
    SpinEdit1->setGeometry(80, 10, 55, 21);

    Label1 = new QLabel(QStringLiteral("MB id :"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->move(35, 15);
    Label1->adjustSize();
    Label1->setBuddy(SpinEdit1);

    setTabOrder(ComboBox1, ComboBox2);
    setTabOrder(ComboBox2, ComboBox3);
    setTabOrder(ComboBox3, ComboBox4);
    setTabOrder(ComboBox4, ComboBox5);
    setTabOrder(ComboBox5, ComboBox6);
    setTabOrder(ComboBox6, ComboBox7);
    setTabOrder(ComboBox7, AdapterButton);
    setTabOrder(AdapterButton, ComboBox8);
    setTabOrder(ComboBox8, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, SpinEdit1);

    // Escape and the close box reject() through QDialog already.
    connect(Button1, &QPushButton::clicked, this, [this] {
        Button1Click();
        if (RefuseSlaveId())
            return;
        accept();
    });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    FitDesignToFont(*this);
}

void TConfForm::LoadSerialDialog(int SerialPort, int BaudRate, int DataBits, int ParityIndex,
                                 int StopbitsIndex, int Handshaking, int MBid)
{
    // Guard the minus one against the smallest int.
    m_comPort = SerialPort;
    selectIndex(ComboBox1, SerialPort > 0 && SerialPort <= 4 ? SerialPort - 1 : -1);
    selectIndex(ComboBox2, BaudRate);
    selectIndex(ComboBox3, DataBits);
    selectIndex(ComboBox4, ParityIndex);
    selectIndex(ComboBox5, StopbitsIndex);
    selectIndex(ComboBox6, Handshaking);
    SpinEdit1->SetValue(MBid);
}

void TConfForm::LoadSerialDialog(const TSerialValues &V)
{
    LoadSerialDialog(V.SerialPort, V.BaudRate, V.DataBits, V.Parity, V.StopBits, V.Handshaking,
                     V.MBid);
    if (!V.Device.empty())
        selectPort(QString::fromStdString(V.Device));
    ComboBox7->setCurrentIndex(V.Mode == 1 ? 1 : 0);
    ComboBox8->setCurrentIndex(V.Framing == 1 ? 1 : 0);
    m_adapter = V;
}

void TConfForm::AdapterButtonClick()
{
    TAdapterDialog dialog(this);
    dialog.Load(m_adapter);
    const int result = ExecAdapterDialog ? ExecAdapterDialog(dialog) : dialog.exec();
    if (result == QDialog::Accepted)
        dialog.Store(m_adapter);
}

namespace
{
// 1..4 for the text of a COM item, 0 otherwise (compared exactly, as the
// port name is).
int comNumber(const QString &Text)
{
    for (int n = 1; n <= 4; ++n)
        if (Text == QStringLiteral("COM") + QString::number(n))
            return n;
    return 0;
}
} // namespace

QString TConfForm::PortText() const
{
    return ComboBox1->currentText().trimmed();
}

void TConfForm::selectPort(const QString &Text)
{
    int index = ComboBox1->findText(Text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (index < 0 && !Text.isEmpty()) {
        ComboBox1->addItem(Text);
        index = ComboBox1->count() - 1;
    }
    ComboBox1->setCurrentIndex(index);
}

void TConfForm::RefreshPortList()
{
    const QString chosen = PortText();
    QStringList items = {QStringLiteral("COM1"), QStringLiteral("COM2"), QStringLiteral("COM3"),
                         QStringLiteral("COM4")};
    if (DeviceList)
        for (const std::string &path : DeviceList())
            items << QString::fromStdString(path);
    const QSignalBlocker block(ComboBox1);
    ComboBox1->clear();
    ComboBox1->addItems(items);
    selectPort(chosen);
    // The box is narrow; its list opens as wide as the longest device name.
    int widest = 0;
    for (const QString &item : items)
        widest = std::max(widest, ComboBox1->view()->fontMetrics().horizontalAdvance(item));
    ComboBox1->view()->setMinimumWidth(widest + 32);
    ComboBox1->setToolTip(PortText());
}

void TConfForm::showEvent(QShowEvent *Event)
{
    RefreshPortList();
    m_shown = SerialValues();
    m_hasShown = true;
    QDialog::showEvent(Event);
}

void TConfForm::done(int Result)
{
    if (Result == QDialog::Rejected && m_hasShown)
        LoadSerialDialog(m_shown);
    m_hasShown = false;
    QDialog::done(Result);
}

TSerialValues TConfForm::SerialValues() const
{
    TSerialValues v;
    const QString port = PortText();
    v.SerialPort = comNumber(port);
    if (v.SerialPort == 0 && !port.isEmpty()) {
        v.SerialPort = m_comPort; // for programs that know no "Device"
        v.Device = port.toStdString();
    }
    v.BaudRate = ComboBox2->currentIndex();
    v.DataBits = ComboBox3->currentIndex();
    v.Parity = ComboBox4->currentIndex();
    v.StopBits = ComboBox5->currentIndex();
    v.Handshaking = ComboBox6->currentIndex();
    v.MBid = SpinEdit1->Value();
    v.Mode = AsciiChosen() ? 1 : 0;
    v.Framing = StrictFramingChosen() ? 1 : 0;
    v.Rs485 = m_adapter.Rs485;
    v.Rs485RtsOnSend = m_adapter.Rs485RtsOnSend;
    v.Rs485RtsAfterSend = m_adapter.Rs485RtsAfterSend;
    v.Rs485DelayBefore = m_adapter.Rs485DelayBefore;
    v.Rs485DelayAfter = m_adapter.Rs485DelayAfter;
    v.IgnoreEcho = m_adapter.IgnoreEcho;
    return v;
}

bool TConfForm::StrictFramingChosen() const
{
    return ComboBox8->currentIndex() == 1;
}

bool TConfForm::AsciiChosen() const
{
    return ComboBox7->currentIndex() == 1;
}

void TConfForm::Button1Click()
{
    if (SpinEdit1->Text().isEmpty())
        SpinEdit1->SetValue(1);
}

bool TConfForm::RefuseSlaveId()
{
    const int id = SpinEdit1->Value();
    if (!IdInUse || !IdInUse(id))
        return false;
    const QString message = QStringLiteral("Slave id %1 is already used.").arg(id);
    if (ShowRefusal) {
        ShowRefusal(message);
    } else {
        QMessageBox box(QMessageBox::Warning, windowTitle(), message, QMessageBox::Ok, this);
        box.exec();
    }
    SpinEdit1->setFocus();
    return true;
}

void TConfForm::ApplySerialSettings(TRegisterImage &Image, TCustomComm &Comm, QTabBar &Tabs,
                                    QWidget &Window, const QString &TitleText) const
{
    {
        // The engine reads the id on the port's thread, under this lock.
        std::lock_guard<std::mutex> hold(Image.ImageLock);
        Image.MBid = SpinEdit1->Value();
    }
    if (Tabs.count() > 0)
        Tabs.setTabText(0, QStringLiteral("MB id ") + QString::number(Image.MBid));

    const bool portChosen = !PortText().isEmpty();
    if (portChosen) {
        const std::string name = PortText().toStdString();
        if (name != Comm.DeviceName()) {
            Comm.Close();
            Comm.SetDeviceName(name);
        }
    } else {
        // The profile names no port we offer: use none rather than keep
        // talking on whichever port was open before.
        Comm.Close();
        Comm.SetDeviceName(std::string());
    }

    Comm.SetBaudRate(BaudRateFromIndex(ComboBox2->currentIndex()));
    Comm.SetParity(ParityFromIndex(ComboBox4->currentIndex()));
    Comm.SetStopbits(StopbitsFromIndex(ComboBox5->currentIndex()));
    Comm.SetFlowControl(FlowControlFromIndex(ComboBox6->currentIndex()));
    // RTU needs all eight bits of every byte; ASCII's characters fit in
    // seven, which it runs at when 7 is chosen (8 otherwise).
    Comm.SetDatabits(AsciiChosen() && ComboBox3->currentIndex() == int(da7) ? da7 : da8);
    TRs485Settings rs485;
    rs485.Enabled = m_adapter.Rs485;
    rs485.RtsOnSend = m_adapter.Rs485RtsOnSend;
    rs485.RtsAfterSend = m_adapter.Rs485RtsAfterSend;
    rs485.DelayBeforeMs = m_adapter.Rs485DelayBefore;
    rs485.DelayAfterMs = m_adapter.Rs485DelayAfter;
    Comm.SetRs485(rs485);
    Comm.SetIgnoreEcho(m_adapter.IgnoreEcho);

    if (portChosen && !Comm.IsOpen())
        Comm.Open();

    Window.setWindowTitle(ConnectionCaption(TitleText, Comm));
}

} // namespace quorlin
