// SPDX-License-Identifier: MIT
#include "scripts/ui/delscript.h"
#include "scripts/ui/addscript.h"
#include "serial/ui/designfit.h"
#include "serial/ui/placement.h"

#include <QEvent>
#include <QListWidget>
#include <QPushButton>

namespace quorlin
{

QString BindingLine(const TScriptBinding &Binding)
{
    // Joined piece by piece: a chain of arg() would go on to substitute into
    // a script name that holds "%1".."%9".
    return QString::number(unsigned(Binding.RegType)) + QLatin1Char('x') +
           QString::number(Binding.RegAdr).rightJustified(4, QLatin1Char('0')) +
           QStringLiteral(" = ") + scriptText(Binding.Name) + QStringLiteral(" (") +
           QString::number(unsigned(Binding.Param1)) + QStringLiteral(", ") +
           QString::number(unsigned(Binding.Param2)) + QStringLiteral(", ") +
           QString::number(unsigned(Binding.Param3)) + QLatin1Char(')');
}

TDelSForm::TDelSForm(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint)
{
    setObjectName(QStringLiteral("DelSForm"));
    setWindowTitle(QStringLiteral("Select Script to remove..."));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(341, 348);

    ListBox1 = new QListWidget(this);
    ListBox1->setObjectName(QStringLiteral("ListBox1"));
    ListBox1->setSelectionMode(QAbstractItemView::SingleSelection);
    ListBox1->setGeometry(10, 10, 321, 291);
    // A double click anywhere in the list closes the dialog, as OK does,
    // whether or not it lands on a line.
    ListBox1->viewport()->installEventFilter(this);

    Button1 = new QPushButton(QStringLiteral("Remove"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(20, 310, 75, 25);
    Button1->setDefault(true);

    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(250, 310, 75, 25);
    Button2->setAutoDefault(false);

    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    FitDesignToFont(*this);
}

void TDelSForm::FillBindingList(const TBindingList &BindingList)
{
    ListBox1->clear();
    for (const TScriptBinding &binding : BindingList)
        ListBox1->addItem(BindingLine(binding));
    if (ListBox1->count() > 0)
        ListBox1->setCurrentRow(0);
}

int TDelSForm::selectedIndex() const
{
    const QList<QListWidgetItem *> selected = ListBox1->selectedItems();
    if (selected.isEmpty())
        return -1;
    return ListBox1->row(selected.first());
}

void TDelSForm::ListBox1DblClick()
{
    accept();
}

bool TDelSForm::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ListBox1->viewport() && event->type() == QEvent::MouseButtonDblClick) {
        ListBox1DblClick();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TDelSForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnScreen(*this);
}

} // namespace quorlin
