// SPDX-License-Identifier: MIT
// "Faults": every key of the injected faults, with OK and Cancel, and what the
// faults have done so far. A separate, resizable window.
#pragma once

#include <QDialog>
#include <functional>
#include <optional>
#include <map>
#include <vector>

#include "engine/faultplan.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QTimer;

namespace quorlin
{

class TFaultsForm : public QDialog
{
    Q_OBJECT
  public:
    explicit TFaultsForm(QWidget *Parent = nullptr);

    // The sections of every slave ("Faults"): the chooser shows them first.
    void LoadFaults(const TFaultSettings &Faults);
    TFaultSettings Faults() const;
    // The slaves the chooser offers and their own sections, by id.
    void LoadSlaveFaults(const std::vector<int> &SlaveIds,
                         const std::map<int, TFaultSettings> &SlaveFaults);
    // The slaves' sections as edited: those loaded, and those of slaves
    // given anything; MBid is 0 in each.
    std::map<int, TFaultSettings> SlaveFaults() const;
    // The slave whose section shows, 0 for every slave's.
    int ShownSlave() const { return m_shown; }
    void ShowSlave(int SlaveId);

    // Where the counts come from; read when the dialog opens and twice a second while it shows.
    std::function<TFaultCounts()> CountsSource;
    // A slave's own section's counts; nothing while it follows every slave's.
    std::function<std::optional<TFaultCounts>(int SlaveId)> SlaveCountsSource;
    // The "fail next" order: what is left of it, and where a new one goes
    // (false: refused).
    std::function<TFailNext()> FailNextSource;
    std::function<bool(const TFailNext &)> FailNextSink;
    void RefreshCounts();
    // "Fail next...": asks for the order and hands it on.
    void FailNextClick();

    // OK: refused while an aim does not read, which the dialog says.
    void accept() override;

    QCheckBox *EnabledBox = nullptr;
    QSpinBox *MBidEdit = nullptr;
    QSpinBox *DelayMsEdit = nullptr;
    QSpinBox *DelayMaxMsEdit = nullptr;
    QSpinBox *NoReplyEveryEdit = nullptr;
    QSpinBox *NoReplyPercentEdit = nullptr;
    QSpinBox *ExceptionEveryEdit = nullptr;
    QSpinBox *ExceptionCodeEdit = nullptr;
    QSpinBox *BadCrcEveryEdit = nullptr;
    QSpinBox *BadCrcPercentEdit = nullptr;
    QSpinBox *WrongIdEveryEdit = nullptr;
    QSpinBox *SplitReplyMsEdit = nullptr;
    QSpinBox *SeedEdit = nullptr;
    QLineEdit *FunctionsEdit = nullptr;
    QLineEdit *RegistersEdit = nullptr;
    QLabel *CountsLabel = nullptr;
    QComboBox *SlaveBox = nullptr; // every slave, then each slave by id
    QLabel *AimErrorLabel = nullptr;
    QPushButton *FailNextButton = nullptr;
    QLabel *FailNextLabel = nullptr;

  protected:
    void showEvent(QShowEvent *Event) override;
    void hideEvent(QHideEvent *Event) override;

  private:
    TFaultSettings shownSettings() const;
    void showSettings(const TFaultSettings &F);
    void slaveChosen(int Index);
    // Why the aim of F does not read; empty when it does.
    static QString aimError(const TFaultSettings &F);

    QTimer *m_refresh = nullptr;
    int m_shown = 0;
    TFaultSettings m_line;                     // while a slave's section shows
    std::map<int, TFaultSettings> m_slaves;    // while another section shows
    std::map<int, TFaultSettings> m_loaded;    // as loaded, so they are handed back
};

// What the status bar says while faults are on: "FAULTS ON: no reply every
// 3rd, delay 200-400 ms", naming only the faults that are set.
QString FaultsSummary(const TFaultSettings &Faults);

// "12 requests counted: 4 without reply, ..." as the dialog shows it.
QString DescribeFaultCounts(const TFaultCounts &Counts);

} // namespace quorlin
