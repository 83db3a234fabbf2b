// SPDX-License-Identifier: MIT
#include "netconfig/networkform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>

namespace quorlin
{

namespace
{

QSpinBox *spin(int Min, int Max, int Value, QWidget *Parent)
{
    auto *s = new QSpinBox(Parent);
    s->setRange(Min, Max);
    s->setValue(Value);
    return s;
}

} // namespace

TNetworkForm::TNetworkForm(QWidget *Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("NetworkForm"));
    setWindowTitle(QStringLiteral("Network"));
    setSizeGripEnabled(true);
    resize(760, 300);

    ListenersView = new QTableWidget(0, ColumnCount, this);
    ListenersView->setObjectName(QStringLiteral("ListenersView"));
    ListenersView->setHorizontalHeaderLabels(
        {QStringLiteral("On"), QStringLiteral("Kind"), QStringLiteral("Address"),
         QStringLiteral("Port"), QStringLiteral("Max clients"), QStringLiteral("Default id"),
         QStringLiteral("State")});
    ListenersView->horizontalHeader()->setStretchLastSection(true);
    ListenersView->verticalHeader()->hide();
    ListenersView->setSelectionBehavior(QAbstractItemView::SelectRows);
    ListenersView->setToolTip(
        QStringLiteral("Default id: the slave that answers Modbus TCP unit ids 0 and 255 "
                       "(0: the lowest id).\nAddress 0.0.0.0 or :: listens on every interface."));

    AddButton = new QPushButton(QStringLiteral("&Add"), this);
    AddButton->setObjectName(QStringLiteral("AddButton"));
    RemoveButton = new QPushButton(QStringLiteral("&Remove"), this);
    RemoveButton->setObjectName(QStringLiteral("RemoveButton"));
    NoSerialBox = new QCheckBox(QStringLiteral("Run &without the serial port"), this);
    NoSerialBox->setObjectName(QStringLiteral("NoSerialBox"));
    ProblemLabel = new QLabel(this);
    ProblemLabel->setObjectName(QStringLiteral("ProblemLabel"));
    ProblemLabel->setStyleSheet(QStringLiteral("QLabel { color: #c00000; }"));
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto *row = new QHBoxLayout;
    row->addWidget(AddButton);
    row->addWidget(RemoveButton);
    row->addStretch(1);
    row->addWidget(NoSerialBox);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(ListenersView, 1);
    layout->addLayout(row);
    layout->addWidget(ProblemLabel);
    layout->addWidget(buttons);

    connect(AddButton, &QPushButton::clicked, this, &TNetworkForm::AddClicked);
    connect(RemoveButton, &QPushButton::clicked, this, &TNetworkForm::RemoveClicked);
    connect(buttons, &QDialogButtonBox::accepted, this, &TNetworkForm::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &TNetworkForm::reject);
}

void TNetworkForm::LoadSettings(const TNetworkSettings &Settings)
{
    ListenersView->setRowCount(0);
    for (const TListenerConfig &c : Settings.Listeners)
        addRow(c);
    NoSerialBox->setChecked(Settings.NoSerial);
    ProblemLabel->clear();
    RefreshState();
}

void TNetworkForm::addRow(const TListenerConfig &Config)
{
    const int r = ListenersView->rowCount();
    ListenersView->insertRow(r);
    auto *on = new QTableWidgetItem;
    on->setFlags(Qt::ItemIsUserCheckable | Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    on->setCheckState(Config.Enabled ? Qt::Checked : Qt::Unchecked);
    ListenersView->setItem(r, ColOn, on);
    auto *kind = new QComboBox(ListenersView);
    kind->addItem(QString::fromLatin1(KindName(TStreamKind::ModbusTcp)));
    kind->addItem(QString::fromLatin1(KindName(TStreamKind::RtuOverTcp)));
    kind->setCurrentIndex(Config.Kind == TStreamKind::ModbusTcp ? 0 : 1);
    ListenersView->setCellWidget(r, ColKind, kind);
    auto *address = new QLineEdit(QString::fromStdString(Config.Address), ListenersView);
    ListenersView->setCellWidget(r, ColAddress, address);
    ListenersView->setCellWidget(r, ColPort, spin(0, 65535, Config.Port, ListenersView));
    ListenersView->setCellWidget(r, ColMaxClients,
                                 spin(1, MaxClientsLimit, Config.MaxClients, ListenersView));
    ListenersView->setCellWidget(r, ColDefaultId, spin(0, 255, Config.DefaultId, ListenersView));
    auto *state = new QTableWidgetItem;
    state->setFlags(Qt::ItemIsEnabled);
    ListenersView->setItem(r, ColState, state);
}

void TNetworkForm::AddClicked()
{
    // A new listener proposes this machine only: every interface is the user's choice.
    addRow(TListenerConfig{});
    ListenersView->selectRow(ListenersView->rowCount() - 1);
}

void TNetworkForm::RemoveClicked()
{
    const int r = ListenersView->currentRow();
    if (r >= 0)
        ListenersView->removeRow(r);
}

std::string TNetworkForm::rowAddress(int Row) const
{
    const auto *edit = qobject_cast<QLineEdit *>(ListenersView->cellWidget(Row, ColAddress));
    const std::string typed = edit ? edit->text().trimmed().toStdString() : std::string();
    std::string address;
    int port = 0;
    // The command line's parser decides what an address is.
    if (typed.empty() || !ParseListenSpec(ListenSpecText(typed, 0), address, port))
        return {};
    return address;
}

TNetworkSettings TNetworkForm::Settings() const
{
    TNetworkSettings s;
    s.NoSerial = NoSerialBox->isChecked();
    for (int r = 0; r < ListenersView->rowCount(); ++r) {
        TListenerConfig c;
        c.Address = rowAddress(r);
        if (c.Address.empty())
            continue;
        c.Enabled = ListenersView->item(r, ColOn)->checkState() == Qt::Checked;
        c.Kind =
            qobject_cast<QComboBox *>(ListenersView->cellWidget(r, ColKind))->currentIndex() == 0
                ? TStreamKind::ModbusTcp
                : TStreamKind::RtuOverTcp;
        c.Port = qobject_cast<QSpinBox *>(ListenersView->cellWidget(r, ColPort))->value();
        c.MaxClients =
            qobject_cast<QSpinBox *>(ListenersView->cellWidget(r, ColMaxClients))->value();
        c.DefaultId = qobject_cast<QSpinBox *>(ListenersView->cellWidget(r, ColDefaultId))->value();
        s.Listeners.push_back(NormalisedListener(c));
    }
    return s;
}

void TNetworkForm::RefreshState()
{
    const std::vector<std::string> states =
        StateSource ? StateSource() : std::vector<std::string>{};
    for (int r = 0; r < ListenersView->rowCount(); ++r)
        if (QTableWidgetItem *item = ListenersView->item(r, ColState))
            item->setText(size_t(r) < states.size() ? QString::fromStdString(states[size_t(r)])
                                                    : QString());
}

void TNetworkForm::accept()
{
    for (int r = 0; r < ListenersView->rowCount(); ++r) {
        if (rowAddress(r).empty()) {
            ProblemLabel->setText(QStringLiteral("Row %1: the address must be an IP address "
                                                 "(127.0.0.1, 0.0.0.0, ::1, ::)")
                                      .arg(r + 1));
            ListenersView->selectRow(r);
            return;
        }
    }
    QDialog::accept();
}

} // namespace quorlin
