// SPDX-License-Identifier: MIT
#include "faults/failnextdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

namespace quorlin
{

TFailNextDialog::TFailNextDialog(int SlaveId, QWidget *Parent) : QDialog(Parent), m_slaveId(SlaveId)
{
    setObjectName(QStringLiteral("FailNextDialog"));
    setWindowTitle(QStringLiteral("Fail Next Requests"));
    setSizeGripEnabled(true);

    auto *form = new QFormLayout;
    auto *who = new QLabel(SlaveId == 0 ? QStringLiteral("Requests to every slave")
                                        : QStringLiteral("Requests to slave %1").arg(SlaveId),
                           this);
    form->addRow(who);
    KindBox = new QComboBox(this);
    KindBox->setObjectName(QStringLiteral("KindBox"));
    KindBox->addItems({QStringLiteral("No reply"), QStringLiteral("Exception"),
                       QStringLiteral("Bad CRC"), QStringLiteral("Wrong id"),
                       QStringLiteral("Delay")});
    form->addRow(QStringLiteral("&Fail by"), KindBox);
    CountEdit = new QSpinBox(this);
    CountEdit->setObjectName(QStringLiteral("CountEdit"));
    CountEdit->setRange(0, MaxFailNextCount);
    CountEdit->setValue(1);
    CountEdit->setSpecialValueText(QStringLiteral("none (cancel the order)"));
    form->addRow(QStringLiteral("&Next requests"), CountEdit);
    CodeEdit = new QSpinBox(this);
    CodeEdit->setObjectName(QStringLiteral("CodeEdit"));
    CodeEdit->setRange(1, 255);
    CodeEdit->setValue(DefaultFaultException);
    form->addRow(QStringLiteral("Exception &code"), CodeEdit);
    DelayEdit = new QSpinBox(this);
    DelayEdit->setObjectName(QStringLiteral("DelayEdit"));
    DelayEdit->setRange(1, MaxFaultDelayMs);
    DelayEdit->setValue(1000);
    DelayEdit->setSuffix(QStringLiteral(" ms"));
    form->addRow(QStringLiteral("&Delay"), DelayEdit);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(KindBox, &QComboBox::currentIndexChanged, this, &TFailNextDialog::kindChanged);

    auto *top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addStretch();
    top->addWidget(buttons);
    kindChanged();
}

void TFailNextDialog::kindChanged()
{
    const auto kind = TFailKind(KindBox->currentIndex());
    CodeEdit->setEnabled(kind == TFailKind::Exception);
    DelayEdit->setEnabled(kind == TFailKind::Delay);
}

TFailNext TFailNextDialog::Order() const
{
    TFailNext o;
    o.Kind = TFailKind(std::clamp(KindBox->currentIndex(), 0, int(TFailKind::Delay)));
    o.Count = CountEdit->value();
    o.SlaveId = m_slaveId;
    if (o.Kind == TFailKind::Exception)
        o.ExceptionCode = CodeEdit->value();
    if (o.Kind == TFailKind::Delay)
        o.DelayMs = DelayEdit->value();
    return o;
}

QString FailKindText(const TFailNext &O)
{
    switch (O.Kind) {
    case TFailKind::NoReply:
        return QStringLiteral("no reply");
    case TFailKind::Exception:
        return QStringLiteral("exception %1")
            .arg(O.ExceptionCode != 0 ? O.ExceptionCode : DefaultFaultException);
    case TFailKind::BadCrc:
        return QStringLiteral("bad CRC");
    case TFailKind::WrongId:
        return QStringLiteral("wrong id");
    case TFailKind::Delay:
        return QStringLiteral("delay %1 ms").arg(O.DelayMs);
    }
    return QString();
}

QString DescribeFailNext(const TFailNext &Left)
{
    if (Left.Count <= 0)
        return QStringLiteral("No \"fail next\" order is running.");
    const QString whose = Left.SlaveId == 0 ? QStringLiteral("of any slave")
                                            : QStringLiteral("of slave %1").arg(Left.SlaveId);
    return QStringLiteral("Failing the next %1 %2 %3: %4.")
        .arg(Left.Count)
        .arg(Left.Count == 1 ? QStringLiteral("request") : QStringLiteral("requests"))
        .arg(whose)
        .arg(FailKindText(Left));
}

} // namespace quorlin
