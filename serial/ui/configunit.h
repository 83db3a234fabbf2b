// SPDX-License-Identifier: MIT
// The "Configuration" dialog: slave id and serial line settings. Its controls
// are the only live copy of these settings; profiles are loaded into them and
// saved from them, and ApplySerialSettings carries them over to the slave id,
// the tab caption, the serial device and the window caption.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>
#include <string>
#include <vector>

#include "serial/commint.h"
#include "serial/serialvalues.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTabBar;
class QToolButton;

namespace quorlin
{

class TCustomComm;
class TRegisterImage;
class TSpinEdit;

// The list indices as the device understands them; an index outside the
// list, or none (-1), falls to the last entry.
TBaudrate BaudRateFromIndex(int Index);
TParity ParityFromIndex(int Index);
TStopbits StopbitsFromIndex(int Index);
TFlowControl FlowControlFromIndex(int Index);

class TConfForm : public QDialog
{
    Q_OBJECT
  public:
    explicit TConfForm(QWidget *Parent = nullptr);

    QLabel *Label1;
    QComboBox *ComboBox1; // port
    QComboBox *ComboBox2; // speed
    QComboBox *ComboBox3; // data bits
    QComboBox *ComboBox4; // parity
    QComboBox *ComboBox5; // stop bits
    QComboBox *ComboBox6; // handshaking
    QComboBox *ComboBox7; // framing: RTU or ASCII
    QComboBox *ComboBox8; // RTU requests framed by length or strictly by silence
    QToolButton *AdapterButton; // opens the adapter options (RS-485, echo)
    QPushButton *Button1; // OK
    QPushButton *Button2; // Cancel
    TSpinEdit *SpinEdit1; // slave id

    // A profile's values into the controls, in the order a profile file
    // holds them (ParityIndex is the value under "StopBits", StopbitsIndex
    // the one under "Parity"); an index outside a list leaves that list
    // without a selection.
    void LoadSerialDialog(int SerialPort, int BaudRate, int DataBits, int ParityIndex,
                          int StopbitsIndex, int Handshaking, int MBid);
    void LoadSerialDialog(const TSerialValues &Values);
    // The controls read back as a profile stores them (no selection gives
    // index -1, so SerialPort 0).
    TSerialValues SerialValues() const;
    // The framing chosen in ComboBox7 (RTU when nothing is chosen).
    bool AsciiChosen() const;
    // Strict framing chosen in ComboBox8 (by length when nothing is chosen).
    bool StrictFramingChosen() const;
    // The adapter options (RS-485, echo) as the adapter dialog left them.
    TSerialValues AdapterValues() const { return m_adapter; }
    // Opens the adapter dialog; OK keeps its choice until this dialog's own
    // OK or Cancel. Tests answer it through the hook (null: exec()).
    void AdapterButtonClick();
    std::function<int(QDialog &Dialog)> ExecAdapterDialog;

    // OK: an emptied slave id becomes 1.
    void Button1Click();

    // The port list: COM1..COM4, then the serial devices found on the
    // machine (asked again each time the dialog opens), and a device path
    // typed or loaded from a profile. The choice is kept across a refresh.
    void RefreshPortList();
    // Where the devices come from (tests give a fake tree).
    std::function<std::vector<std::string>()> DeviceList;
    // The chosen port as text: "COM2", a device path, or empty for none.
    QString PortText() const;

    // With several slaves on the line: asked on OK with the slave id shown;
    // true refuses it with "Slave id %d is already used." and keeps the
    // dialog open. Unset, every id is accepted.
    std::function<bool(int Id)> IdInUse;
    // Shows the refusal; unset, a warning box.
    std::function<void(const QString &Message)> ShowRefusal;
    // True when OK must not close the dialog (the refusal has been shown).
    bool RefuseSlaveId();

    // Carries the controls over: slave id, tab caption, port name and line
    // settings of Comm, opening it when closed, and the window caption,
    // TitleText followed by the connection state.
    void ApplySerialSettings(TRegisterImage &Image, TCustomComm &Comm, QTabBar &Tabs,
                             QWidget &Window, const QString &TitleText) const;

    // Cancel, Escape and the close box put the controls back as they were
    // shown: they hold the settings in use, and a profile is saved from them.
    void done(int Result) override;

  protected:
    void showEvent(QShowEvent *Event) override;

  private:
    void selectPort(const QString &Text);
    TSerialValues m_shown; // the controls when the dialog was shown
    bool m_hasShown = false;
    int m_comPort = 0; // SerialPort as last loaded, kept while a device is chosen
    TSerialValues m_adapter; // its adapter fields only
};

} // namespace quorlin
