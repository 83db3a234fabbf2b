// SPDX-License-Identifier: MIT
#include "slaves/slaveoptionsform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

#include "engine/registertable.h"
#include "profile/profiledialogs.h"

namespace quorlin
{

namespace
{

// The identification objects as the dialog labels them, by object id.
constexpr std::array<const char *, DeviceIdObjectCount> IdentityLabels = {
    "Vendor name:", "Product code:",         "Revision:", "Vendor URL:", "Product name:",
    "Model name:",  "User application name:"};

} // namespace

TSlaveOptionsForm::TSlaveOptionsForm(int Id, const TSlaveOptions &Options, IProfileDialogs &Dialogs,
                                     QWidget *Parent)
    : QDialog(Parent), m_dialogs(Dialogs), m_base(Options)
{
    setObjectName(QStringLiteral("SlaveOptionsForm"));
    setWindowTitle(QStringLiteral("Slave Options - MB id %1").arg(Id));
    setSizeGripEnabled(true);

    RegistersEdit = new QSpinBox(this);
    RegistersEdit->setObjectName(QStringLiteral("RegistersEdit"));
    RegistersEdit->setRange(0, MaxTableRegisters);
    RegistersEdit->setSpecialValueText(QStringLiteral("usual (2048 bits, 256 registers)"));
    RegistersEdit->setToolTip(QStringLiteral("Registers 1 to N in every table"));
    RegistersEdit->setValue(Options.Registers);
    MapEdit = new QLineEdit(QString::fromStdString(Options.Map), this);
    MapEdit->setObjectName(QStringLiteral("MapEdit"));
    MapEdit->setToolTip(QStringLiteral("A map file (CSV), relative to the profile's folder"));
    BrowseButton = new QPushButton(QStringLiteral("&Browse..."), this);
    BrowseButton->setObjectName(QStringLiteral("BrowseButton"));
    MappedOnlyBox =
        new QCheckBox(QStringLiteral("Answer only &mapped registers "
                                     "(exception 2 elsewhere and for read-only writes)"),
                      this);
    MappedOnlyBox->setObjectName(QStringLiteral("MappedOnlyBox"));
    MappedOnlyBox->setChecked(Options.MappedOnly);
    Functions22And23Box = new QCheckBox(
        QStringLiteral("Functions &22 and 23 (mask write, read/write registers)"), this);
    Functions22And23Box->setObjectName(QStringLiteral("Functions22And23Box"));
    Functions22And23Box->setChecked(Options.Functions22And23);
    StrictBox = new QCheckBox(QStringLiteral("&Strict protocol (exception 1 for functions not "
                                             "served, 3 for malformed requests)"),
                              this);
    StrictBox->setObjectName(QStringLiteral("StrictBox"));
    StrictBox->setChecked(Options.Strict);
    OffsetBox = new QComboBox(this);
    OffsetBox->setObjectName(QStringLiteral("OffsetBox"));
    OffsetBox->addItem(QStringLiteral("-1 (address n serves register n)"), -1);
    OffsetBox->addItem(QStringLiteral("0 (address n serves register n+1)"), 0);
    OffsetBox->addItem(QStringLiteral("+1 (address n serves register n+2)"), 1);
    OffsetBox->setCurrentIndex(std::clamp(Options.AddressOffset, -1, 1) + 1);

    auto *mapRow = new QHBoxLayout;
    mapRow->addWidget(MapEdit, 1);
    mapRow->addWidget(BrowseButton);
    auto *form = new QFormLayout;
    form->addRow(QStringLiteral("&Registers per table:"), RegistersEdit);
    form->addRow(QStringLiteral("Map &file:"), mapRow);
    form->addRow(QString(), MappedOnlyBox);
    form->addRow(QString(), Functions22And23Box);
    form->addRow(QString(), StrictBox);
    form->addRow(QStringLiteral("Address &offset:"), OffsetBox);

    auto *identity = new QGroupBox(QStringLiteral("Device identification (function 43)"), this);
    DeviceIdBox = new QCheckBox(QStringLiteral("&Answer read device identification"), identity);
    DeviceIdBox->setObjectName(QStringLiteral("DeviceIdBox"));
    DeviceIdBox->setChecked(Options.DeviceId);
    auto *idForm = new QFormLayout(identity);
    idForm->addRow(DeviceIdBox);
    for (int i = 0; i < DeviceIdObjectCount; ++i) {
        auto *edit = new QLineEdit(QString::fromStdString(Options.Identity[size_t(i)]), identity);
        edit->setObjectName(QString::fromLatin1(DeviceIdKeys[size_t(i)]) + QStringLiteral("Edit"));
        // An object travels with a one-byte length.
        edit->setMaxLength(255);
        IdentityEdits[size_t(i)] = edit;
        idForm->addRow(QString::fromLatin1(IdentityLabels[size_t(i)]), edit);
    }

    auto *buttons = new QDialogButtonBox(this);
    OkButton = buttons->addButton(QDialogButtonBox::Ok);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    CancelButton = buttons->addButton(QDialogButtonBox::Cancel);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(identity);
    layout->addStretch(1);
    layout->addWidget(buttons);
    resize(520, 480);

    connect(buttons, &QDialogButtonBox::accepted, this, &TSlaveOptionsForm::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(BrowseButton, &QPushButton::clicked, this, &TSlaveOptionsForm::browse);
}

TSlaveOptions TSlaveOptionsForm::Options() const
{
    TSlaveOptions o = m_base;
    o.Registers = RegistersEdit->value();
    o.Map = MapEdit->text().trimmed().toStdString();
    o.MappedOnly = MappedOnlyBox->isChecked();
    o.DeviceId = DeviceIdBox->isChecked();
    for (int i = 0; i < DeviceIdObjectCount; ++i)
        o.Identity[size_t(i)] = IdentityEdits[size_t(i)]->text().toStdString();
    o.Functions22And23 = Functions22And23Box->isChecked();
    o.AddressOffset = OffsetBox->currentData().toInt();
    o.Strict = StrictBox->isChecked();
    return o;
}

void TSlaveOptionsForm::accept()
{
    if (Check) {
        const QString refused = Check(Options());
        if (!refused.isEmpty()) {
            m_dialogs.ShowError(this, refused);
            return;
        }
    }
    QDialog::accept();
}

void TSlaveOptionsForm::browse()
{
    const TFileDialogRequest request =
        CsvFileDialog(QStringLiteral("Map File"), QStringLiteral("Device maps"), MapDirectory, true);
    if (const auto path = m_dialogs.OpenFileName(this, request))
        MapEdit->setText(*path);
}

} // namespace quorlin
