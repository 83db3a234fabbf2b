// SPDX-License-Identifier: MIT
// A spin edit whose value is stepped, never typed: its arrows and the Up and
// Down keys step by 1, Delete may remove digits, everything else that would
// put text into it (typing, Backspace, cut, paste, drops) is refused.
#pragma once

#include <QSpinBox>

namespace quorlin
{

class TSpinEdit : public QSpinBox
{
    Q_OBJECT
  public:
    explicit TSpinEdit(QWidget *Parent = nullptr);

    // The text read as a decimal number, the minimum when it is none, and
    // always within minimum..maximum.
    int Value() const;
    // Brought into minimum..maximum.
    void SetValue(int Value);
    QString Text() const;
    void stepBy(int Steps) override;

  protected:
    StepEnabled stepEnabled() const override;
    void keyPressEvent(QKeyEvent *Event) override;
    void focusOutEvent(QFocusEvent *Event) override;
    bool eventFilter(QObject *Watched, QEvent *Event) override;
    QValidator::State validate(QString &Input, int &Pos) const override;
    void fixup(QString &Input) const override;
};

} // namespace quorlin
