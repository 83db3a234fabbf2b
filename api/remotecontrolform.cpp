// SPDX-License-Identifier: MIT
#include "api/remotecontrolform.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QVBoxLayout>

namespace quorlin
{

TRemoteControlForm::TRemoteControlForm(QWidget *Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("RemoteControlForm"));
    setWindowTitle(QStringLiteral("Remote Control"));
    setSizeGripEnabled(true);
    auto *layout = new QVBoxLayout(this);
    OnBox = new QCheckBox(QStringLiteral("&Serve the HTTP API"), this);
    OnBox->setObjectName(QStringLiteral("OnBox"));
    layout->addWidget(OnBox);
    auto *form = new QFormLayout;
    AddressEdit = new QLineEdit(this);
    AddressEdit->setObjectName(QStringLiteral("AddressEdit"));
    AddressEdit->setToolTip(
        QStringLiteral("127.0.0.1 serves this machine only; any other address needs a token"));
    form->addRow(QStringLiteral("&Address:"), AddressEdit);
    PortEdit = new QSpinBox(this);
    PortEdit->setObjectName(QStringLiteral("PortEdit"));
    PortEdit->setRange(1, 65535);
    form->addRow(QStringLiteral("&Port:"), PortEdit);
    TokenFileEdit = new QLineEdit(this);
    TokenFileEdit->setObjectName(QStringLiteral("TokenFileEdit"));
    TokenFileEdit->setPlaceholderText(QStringLiteral("none on loopback; generated otherwise"));
    form->addRow(QStringLiteral("&Token file:"), TokenFileEdit);
    layout->addLayout(form);
    StateLabel = new QLabel(this);
    StateLabel->setObjectName(QStringLiteral("StateLabel"));
    StateLabel->setWordWrap(true);
    StateLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(StateLabel);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void TRemoteControlForm::Load(const TRemoteSettings &Settings, const QString &State)
{
    OnBox->setChecked(Settings.On);
    AddressEdit->setText(Settings.Address);
    PortEdit->setValue(Settings.Port);
    TokenFileEdit->setText(Settings.TokenFile);
    StateLabel->setText(State);
}

TRemoteSettings TRemoteControlForm::Settings() const
{
    TRemoteSettings s;
    s.On = OnBox->isChecked();
    s.Address = AddressEdit->text().trimmed();
    if (s.Address.isEmpty())
        s.Address = QStringLiteral("127.0.0.1");
    s.Port = PortEdit->value();
    s.TokenFile = TokenFileEdit->text().trimmed();
    return s;
}

} // namespace quorlin
