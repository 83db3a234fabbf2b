// SPDX-License-Identifier: MIT
#include "serial/ui/adapterdialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSpinBox>
#include <QVBoxLayout>

#include "platform/serialadapter.h"

namespace quorlin
{

namespace
{

QComboBox *levelList(QWidget *Parent, const char *Name, bool HighFirst)
{
    auto *box = new QComboBox(Parent);
    box->setObjectName(QLatin1String(Name));
    if (HighFirst)
        box->addItems({QStringLiteral("High"), QStringLiteral("Low")});
    else
        box->addItems({QStringLiteral("Low"), QStringLiteral("High")});
    return box;
}

QSpinBox *delayBox(QWidget *Parent, const char *Name)
{
    auto *box = new QSpinBox(Parent);
    box->setObjectName(QLatin1String(Name));
    box->setRange(0, MaxRs485DelayMs);
    box->setSuffix(QStringLiteral(" ms"));
    return box;
}

} // namespace

TAdapterDialog::TAdapterDialog(QWidget *Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("AdapterDialog"));
    setWindowTitle(QStringLiteral("Serial Adapter"));

    Rs485Box = new QCheckBox(QStringLiteral("RS-485: the kernel switches the driver (RTS)"), this);
    Rs485Box->setObjectName(QStringLiteral("Rs485Box"));
    RtsOnSendBox = levelList(this, "RtsOnSendBox", true);
    RtsAfterSendBox = levelList(this, "RtsAfterSendBox", false);
    DelayBeforeBox = delayBox(this, "DelayBeforeBox");
    DelayAfterBox = delayBox(this, "DelayAfterBox");
    IgnoreEchoBox = new QCheckBox(QStringLiteral("Ignore the echo of our own replies"), this);
    IgnoreEchoBox->setObjectName(QStringLiteral("IgnoreEchoBox"));
    IgnoreEchoBox->setToolTip(
        QStringLiteral("For two-wire adapters that return what they send: received bytes "
                       "equal to the reply just sent, arriving right after it, are dropped"));

    auto *form = new QFormLayout;
    form->addRow(Rs485Box);
    form->addRow(QStringLiteral("RTS while sending:"), RtsOnSendBox);
    form->addRow(QStringLiteral("RTS after sending:"), RtsAfterSendBox);
    form->addRow(QStringLiteral("Delay before sending:"), DelayBeforeBox);
    form->addRow(QStringLiteral("Delay after sending:"), DelayAfterBox);
    form->addRow(IgnoreEchoBox);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(Rs485Box, &QCheckBox::toggled, this, &TAdapterDialog::enableRs485Controls);
    enableRs485Controls();
}

void TAdapterDialog::enableRs485Controls()
{
    const bool on = Rs485Box->isChecked();
    for (QWidget *w :
         {static_cast<QWidget *>(RtsOnSendBox), static_cast<QWidget *>(RtsAfterSendBox),
          static_cast<QWidget *>(DelayBeforeBox), static_cast<QWidget *>(DelayAfterBox)})
        w->setEnabled(on);
}

void TAdapterDialog::Load(const TSerialValues &V)
{
    Rs485Box->setChecked(V.Rs485);
    RtsOnSendBox->setCurrentIndex(V.Rs485RtsOnSend ? 0 : 1);
    RtsAfterSendBox->setCurrentIndex(V.Rs485RtsAfterSend ? 1 : 0);
    DelayBeforeBox->setValue(V.Rs485DelayBefore);
    DelayAfterBox->setValue(V.Rs485DelayAfter);
    IgnoreEchoBox->setChecked(V.IgnoreEcho);
    enableRs485Controls();
}

void TAdapterDialog::Store(TSerialValues &V) const
{
    V.Rs485 = Rs485Box->isChecked();
    V.Rs485RtsOnSend = RtsOnSendBox->currentIndex() == 0;
    V.Rs485RtsAfterSend = RtsAfterSendBox->currentIndex() == 1;
    V.Rs485DelayBefore = DelayBeforeBox->value();
    V.Rs485DelayAfter = DelayAfterBox->value();
    V.IgnoreEcho = IgnoreEchoBox->isChecked();
}

} // namespace quorlin
