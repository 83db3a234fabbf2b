// SPDX-License-Identifier: MIT
// The main window: the register panels with their 100 ms tick, the main
// menu, and everything that lives as long as the program runs (register
// image, serial device, timers, scripts, bindings, Configuration dialog).
#pragma once

#include <QMainWindow>
#include <QString>

#include <array>
#include <memory>

#include "engine/registerimage.h"
#include "scripts/scriptbinding.h"
#include "scripts/scriptint.h"
#include "serial/ui/configunit.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QScrollBar;
class QTimer;

namespace quorlin
{

class TAskForm;
class TComm;
class TModbusSlave;
class TNumberBox;
class TQtTimeOutTimer;
class TShape;
class TTabControl;

class TMainForm : public QMainWindow
{
    Q_OBJECT
  public:
    // Runs the start-up: image cleared, scripts loaded, Configuration dialog
    // created and filled, serial settings applied (the port opened), Timer1
    // started. ProgramDir is where quorlin.ini, UNTITLED.QRL and scripts.dll
    // are looked for; empty means the executable's directory.
    explicit TMainForm(QWidget *Parent = nullptr, const QString &ProgramDir = QString());
    ~TMainForm() override;

    // --- what lives as long as the window ---
    TRegisterImage &RegisterImage() { return m_image; }
    TBindingList &BindingList() { return m_bindingList; }
    const TScriptList &ScriptList() const { return m_scripts.ScriptList; }
    const TScriptLibrary &ScriptLibrary() const { return m_scripts; }
    TModbusSlave &Engine() { return *m_engine; }
    const QString &ProgramDir() const { return m_programDir; }
    TComm *Comm1 = nullptr;
    QTimer *Timer1 = nullptr;                // 100 ms, periodic: Tick
    TQtTimeOutTimer *TimeOutTimer = nullptr; // 100 ms, one-shot: drops a partial request
    TConfForm *ConfForm = nullptr;
    // The value dialog; the main sequence creates it after this window.
    TAskForm *AskForm = nullptr;

    // --- profile state ---
    QString ProfilePath;
    bool ProfileNamed = false;
    bool ProfileSaved = true;
    QString TitleText = QStringLiteral("Quorlin 1.0");

    // --- serial settings, as the profile layer drives them ---
    void LoadSerialDialog(const TSerialValues &Values);
    TSerialValues ReadSerialDialog() const;
    void ApplySerialSettings();

    // --- start-up and shutdown steps, as the profile layer drives them ---
    void LoadScriptLibrary();
    void ClearReceiveBuffer();
    void StartTimer();
    void StopTimer();
    void ClosePort();
    bool StayOnTop() const;
    void SetStayOnTop(bool On);

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
    void RefreshPanels();
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
    QMenu *About1 = nullptr;
    QAction *HelpTopics1 = nullptr;
    QAction *About2 = nullptr;

    void SerialOptions1Click();
    void StayOnTop1Click();
    void Exit1Click();

    // Closes without the unsaved-profile question: a terminate signal cannot
    // be answered.
    void CloseWithoutQuestion();

  protected:
    void closeEvent(QCloseEvent *Event) override;

  private:
    void buildMenu();
    void buildPanels();
    bool FormCloseQuery();
    void FormClose();

    QString m_programDir;
    TRegisterImage m_image;
    TScriptLibrary m_scripts;
    TBindingList m_bindingList;
    std::unique_ptr<TModbusSlave> m_engine;
    bool m_closed = false;
    bool m_forceClose = false;
};

} // namespace quorlin
