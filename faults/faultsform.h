// SPDX-License-Identifier: MIT
// "Faults": every key of the injected faults, with OK and Cancel, and what the
// faults have done so far. A separate, resizable window.
#pragma once

#include <QDialog>
#include <functional>
#include <vector>

#include "engine/faultplan.h"

class QCheckBox;
class QFormLayout;
class QLabel;
class QSpinBox;
class QTimer;

namespace quorlin
{

class TFaultsForm : public QDialog
{
    Q_OBJECT
  public:
    explicit TFaultsForm(QWidget *Parent = nullptr);

    void LoadFaults(const TFaultSettings &Faults);
    TFaultSettings Faults() const;

    // Where the counts come from; read when the dialog opens and twice a second while it shows.
    std::function<TFaultCounts()> CountsSource;
    void RefreshCounts();

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
    // How the reply's bytes travel, and the connection faults.
    QSpinBox *NoiseEveryEdit = nullptr;
    QSpinBox *NoisePercentEdit = nullptr;
    QSpinBox *NoiseBytesEdit = nullptr;
    QSpinBox *TruncateEveryEdit = nullptr;
    QSpinBox *TruncatePercentEdit = nullptr;
    QSpinBox *TruncateBytesEdit = nullptr;
    QSpinBox *DuplicateEveryEdit = nullptr;
    QSpinBox *DuplicatePercentEdit = nullptr;
    QSpinBox *WrongParityEveryEdit = nullptr;
    QSpinBox *WrongParityPercentEdit = nullptr;
    QSpinBox *UnsolicitedMsEdit = nullptr;
    QSpinBox *ResetEveryEdit = nullptr;
    QSpinBox *WrongTidEveryEdit = nullptr;
    QSpinBox *BadLengthEveryEdit = nullptr;
    QSpinBox *CloseAfterRequestsEdit = nullptr;
    QSpinBox *IdleCloseSecondsEdit = nullptr;
    QLabel *CountsLabel = nullptr;

  protected:
    void showEvent(QShowEvent *Event) override;
    void hideEvent(QHideEvent *Event) override;

  private:
    // The fields of the kinds above, by the key each edits.
    void addDeliveryFields(QFormLayout *Form);
    struct TKeyEdit {
        int TFaultSettings::*Member;
        QSpinBox *Edit;
    };
    std::vector<TKeyEdit> m_deliveryEdits;
    QTimer *m_refresh = nullptr;
};

// What the status bar says while faults are on: "FAULTS ON: no reply every
// 3rd, delay 200-400 ms", naming only the faults that are set.
QString FaultsSummary(const TFaultSettings &Faults);

// "12 requests counted: 4 without reply, ..." as the dialog shows it.
QString DescribeFaultCounts(const TFaultCounts &Counts);

} // namespace quorlin
