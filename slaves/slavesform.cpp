// SPDX-License-Identifier: MIT
#include "slaves/slavesform.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "slaves/slavecommands.h"

namespace quorlin
{

QString SlaveLine(int Id, int Bindings)
{
    return QStringLiteral("MB id %1 (%2 %3)")
        .arg(Id)
        .arg(Bindings)
        .arg(Bindings == 1 ? QStringLiteral("script") : QStringLiteral("scripts"));
}

TSlavesForm::TSlavesForm(TSlaveCommands &Commands, QWidget *Parent)
    : QDialog(Parent), m_commands(Commands)
{
    setObjectName(QStringLiteral("SlavesForm"));
    setWindowTitle(QStringLiteral("Slaves"));
    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    AddButton = new QPushButton(QStringLiteral("&Add..."), this);
    AddButton->setObjectName(QStringLiteral("AddButton"));
    RemoveButton = new QPushButton(QStringLiteral("&Remove"), this);
    RemoveButton->setObjectName(QStringLiteral("RemoveButton"));
    OptionsButton = new QPushButton(QStringLiteral("&Options..."), this);
    OptionsButton->setObjectName(QStringLiteral("OptionsButton"));
    CloseButton = new QPushButton(QStringLiteral("Close"), this);
    CloseButton->setObjectName(QStringLiteral("CloseButton"));
    CloseButton->setDefault(true);

    auto *buttons = new QVBoxLayout;
    buttons->addWidget(AddButton);
    buttons->addWidget(RemoveButton);
    buttons->addWidget(OptionsButton);
    buttons->addStretch();
    buttons->addWidget(CloseButton);
    auto *layout = new QHBoxLayout(this);
    layout->addWidget(ListBox1, 1);
    layout->addLayout(buttons);
    resize(260, 220);

    connect(AddButton, &QPushButton::clicked, this, &TSlavesForm::AddClick);
    connect(RemoveButton, &QPushButton::clicked, this, &TSlavesForm::RemoveClick);
    connect(CloseButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(OptionsButton, &QPushButton::clicked, this, [this] {
        if (EditOptions && SelectedId() != 0)
            EditOptions(SelectedId());
    });
    connect(ListBox1, &QListWidget::itemDoubleClicked, this, [this] {
        if (EditOptions && SelectedId() != 0)
            EditOptions(SelectedId());
    });
    connect(ListBox1, &QListWidget::currentRowChanged, this, [this] {
        RemoveButton->setEnabled(SelectedId() != 0 && m_commands.Slaves().Count() > 1);
    });
}

void TSlavesForm::Refill(int SelectId)
{
    if (SelectId == 0)
        SelectId = SelectedId();
    const TSlaveSet &slaves = m_commands.Slaves();
    ListBox1->clear();
    int row = 0;
    for (int i = 0; i < slaves.Count(); ++i) {
        const int id = slaves.At(i).MBid;
        auto *item = new QListWidgetItem(
            SlaveLine(id, CountSlaveBindings(m_commands.Bindings(), slaves, id)), ListBox1);
        item->setData(Qt::UserRole, id);
        if (id == SelectId)
            row = i;
    }
    ListBox1->setCurrentRow(row);
    // The last slave stays: a line always has one.
    RemoveButton->setEnabled(slaves.Count() > 1);
    AddButton->setEnabled(LowestFreeSlaveId(slaves) != 0);
    OptionsButton->setVisible(static_cast<bool>(EditOptions));
}

int TSlavesForm::SelectedId() const
{
    const QListWidgetItem *item = ListBox1->currentItem();
    return item != nullptr ? item->data(Qt::UserRole).toInt() : 0;
}

void TSlavesForm::AddClick()
{
    if (const int id = m_commands.AddSlave())
        Refill(id);
}

void TSlavesForm::RemoveClick()
{
    const int id = SelectedId();
    if (id != 0 && m_commands.RemoveSlave(id))
        Refill(m_commands.Slaves().First().MBid);
}

void TSlavesForm::showEvent(QShowEvent *Event)
{
    Refill();
    QDialog::showEvent(Event);
}

} // namespace quorlin
