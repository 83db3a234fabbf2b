// SPDX-License-Identifier: MIT
#include "registers/registersform.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QShortcut>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QVBoxLayout>

#include "engine/registercsv.h"
#include "profile/profiledialogs.h"
#include "registers/registermodel.h"
#include "registers/registersource.h"

namespace quorlin
{

namespace
{

// The tick repaints a cell whose value changes while it is being edited;
// the editor keeps what the user is typing instead of taking the new value.
class TValueDelegate : public QStyledItemDelegate
{
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void setEditorData(QWidget *Editor, const QModelIndex &Index) const override
    {
        if (Editor->property("quorlinFilled").toBool())
            return;
        Editor->setProperty("quorlinFilled", true);
        QStyledItemDelegate::setEditorData(Editor, Index);
    }
};

struct TTableChoice {
    const char *Caption;
    int RegType;
};
constexpr TTableChoice Tables[] = {
    {"Coils (0x)", RegTypeCoil},
    {"Discrete Inputs (1x)", RegTypeDiscreteInput},
    {"Input Registers (3x)", RegTypeInputReg},
    {"Holding Registers (4x)", RegTypeHoldingReg},
};

} // namespace

const std::vector<TValueFormat> &TRegistersForm::AllFormats()
{
    static const std::vector<TValueFormat> formats = [] {
        std::vector<TValueFormat> all;
        for (TValueKind k : {TValueKind::Unsigned, TValueKind::Signed, TValueKind::Hex,
                             TValueKind::Binary, TValueKind::Ascii})
            all.push_back({k, TWordOrder::ABCD});
        for (TValueKind k : {TValueKind::U32, TValueKind::S32, TValueKind::F32, TValueKind::U64,
                             TValueKind::S64, TValueKind::F64})
            for (TWordOrder o :
                 {TWordOrder::ABCD, TWordOrder::CDAB, TWordOrder::BADC, TWordOrder::DCBA})
                all.push_back({k, o});
        return all;
    }();
    return formats;
}

TRegistersForm::TRegistersForm(IRegisterSource &Source, IProfileDialogs &Dialogs, QWidget *Parent)
    : QWidget(Parent, Qt::Window), m_source(Source), m_dialogs(Dialogs)
{
    setObjectName(QStringLiteral("RegistersForm"));
    resize(760, 560);

    TableBox = new QComboBox(this);
    TableBox->setObjectName(QStringLiteral("TableBox"));
    for (const TTableChoice &t : Tables)
        TableBox->addItem(QString::fromLatin1(t.Caption), t.RegType);
    FormatBox = new QComboBox(this);
    FormatBox->setObjectName(QStringLiteral("FormatBox"));
    FormatBox->setToolTip(QStringLiteral("Format of the selected rows"));
    for (const TValueFormat &f : AllFormats())
        FormatBox->addItem(QString::fromStdString(FormatName(f)));
    ExportButton = new QPushButton(QStringLiteral("Export Values..."), this);
    ExportButton->setObjectName(QStringLiteral("ExportButton"));
    ImportButton = new QPushButton(QStringLiteral("Import Values..."), this);
    ImportButton->setObjectName(QStringLiteral("ImportButton"));
    FilterEdit = new QLineEdit(this);
    FilterEdit->setObjectName(QStringLiteral("FilterEdit"));
    FilterEdit->setPlaceholderText(QStringLiteral("name in the map"));
    FilterEdit->setClearButtonEnabled(true);
    JumpEdit = new QLineEdit(this);
    JumpEdit->setObjectName(QStringLiteral("JumpEdit"));
    JumpEdit->setPlaceholderText(QStringLiteral("4x40001"));
    JumpEdit->setToolTip(QStringLiteral("A register (4x40001) or a number of this table, then Return"));
    ImportMapButton = new QPushButton(QStringLiteral("Import Map..."), this);
    ImportMapButton->setObjectName(QStringLiteral("ImportMapButton"));
    ExportMapButton = new QPushButton(QStringLiteral("Export Map..."), this);
    ExportMapButton->setObjectName(QStringLiteral("ExportMapButton"));

    Model = new TRegisterModel(Source, this);
    View = new QTableView(this);
    View->setObjectName(QStringLiteral("View"));
    View->setModel(Model);
    View->setItemDelegateForColumn(TRegisterModel::ValueColumn, new TValueDelegate(View));
    View->setItemDelegateForColumn(TRegisterModel::EngineeringColumn, new TValueDelegate(View));
    View->verticalHeader()->hide();
    View->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    View->horizontalHeader()->setStretchLastSection(true);
    View->setColumnWidth(TRegisterModel::RegisterColumn, 75);
    View->setColumnWidth(TRegisterModel::NameColumn, 120);
    View->setColumnWidth(TRegisterModel::ValueColumn, 150);
    View->setColumnWidth(TRegisterModel::FormatColumn, 120);
    View->setColumnWidth(TRegisterModel::EngineeringColumn, 90);
    View->setColumnWidth(TRegisterModel::UnitColumn, 45);
    View->setSelectionBehavior(QAbstractItemView::SelectRows);
    View->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                          QAbstractItemView::AnyKeyPressed);
    View->setContextMenuPolicy(Qt::CustomContextMenu);

    m_formatMenu = new QMenu(QStringLiteral("Format"), this);
    m_formatMenu->setObjectName(QStringLiteral("FormatMenu"));
    QMenu *sub = nullptr;
    for (const TValueFormat &f : AllFormats()) {
        QMenu *into = m_formatMenu;
        if (RegisterSpan(f.Kind) > 1) {
            if (f.Order == TWordOrder::ABCD) {
                const std::string name = FormatName(f);
                sub =
                    m_formatMenu->addMenu(QString::fromStdString(name.substr(0, name.size() - 6)));
            }
            into = sub;
        }
        QAction *a = into->addAction(QString::fromStdString(FormatName(f)));
        connect(a, &QAction::triggered, this, [this, f] { SetSelectedFormat(f); });
    }
    connect(View, &QWidget::customContextMenuRequested, this, [this](const QPoint &At) {
        if (!Model->IsBitTable() && View->indexAt(At).isValid())
            m_formatMenu->popup(View->viewport()->mapToGlobal(At));
    });

    auto *top = new QHBoxLayout;
    top->addWidget(TableBox);
    top->addWidget(new QLabel(QStringLiteral("Format:"), this));
    top->addWidget(FormatBox);
    top->addStretch(1);
    top->addWidget(ExportButton);
    top->addWidget(ImportButton);
    auto *mapRow = new QHBoxLayout;
    mapRow->addWidget(new QLabel(QStringLiteral("Find:"), this));
    mapRow->addWidget(FilterEdit, 1);
    mapRow->addWidget(new QLabel(QStringLiteral("Go to:"), this));
    mapRow->addWidget(JumpEdit);
    mapRow->addWidget(ImportMapButton);
    mapRow->addWidget(ExportMapButton);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(mapRow);
    layout->addWidget(View);

    TableBox->setCurrentIndex(3);
    connect(TableBox, &QComboBox::currentIndexChanged, this, &TRegistersForm::tableChosen);
    connect(FormatBox, &QComboBox::activated, this, [this](int Index) {
        SetSelectedFormat(AllFormats()[size_t(Index)]);
        returnToValue();
    });
    connect(ExportButton, &QPushButton::clicked, this, &TRegistersForm::ExportRequested);
    connect(ImportButton, &QPushButton::clicked, this, &TRegistersForm::ImportRequested);
    connect(ImportMapButton, &QPushButton::clicked, this, &TRegistersForm::MapImportRequested);
    connect(ExportMapButton, &QPushButton::clicked, this, &TRegistersForm::MapExportRequested);
    connect(FilterEdit, &QLineEdit::textChanged, this,
            [this](const QString &Text) { Model->SetFilter(Text); });
    connect(JumpEdit, &QLineEdit::returnPressed, this, [this] {
        const QString refused = Jump(JumpEdit->text());
        if (!refused.isEmpty())
            m_dialogs.ShowError(this, refused);
    });
    // A bit toggles like a lamp: a click on its value, or Space on its row.
    connect(View, &QAbstractItemView::clicked, this, [this](const QModelIndex &Index) {
        if (Index.column() == TRegisterModel::ValueColumn)
            Model->ToggleBit(Index.row());
    });
    m_space = new QShortcut(QKeySequence(Qt::Key_Space), View);
    m_space->setContext(Qt::WidgetShortcut);
    connect(m_space, &QShortcut::activated, this, [this] {
        for (const int row : selectedRows())
            Model->ToggleBit(row);
    });
    connect(View->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &TRegistersForm::currentRowChanged);
    // Queued: a box shown from inside the editor's commit would reenter it.
    connect(
        Model, &TRegisterModel::EditRefused, this,
        [this](const QString &Reason) { m_dialogs.ShowError(this, Reason); }, Qt::QueuedConnection);
    tableChosen(TableBox->currentIndex());
}

void TRegistersForm::tableChosen(int Index)
{
    if (Index < 0)
        return;
    Model->SetTable(TableBox->itemData(Index).toInt());
    FormatBox->setEnabled(!Model->IsBitTable());
    // In a register table a space may begin a typed value (two characters).
    m_space->setEnabled(Model->IsBitTable());
    updateTitle();
}

void TRegistersForm::updateTitle()
{
    m_titleSlave = m_source.SelectedSlave();
    setWindowTitle(QStringLiteral("Registers - MB id %1").arg(m_titleSlave));
}

void TRegistersForm::currentRowChanged()
{
    // The box names the format of the row the user is on.
    const QModelIndex current = View->currentIndex();
    if (!current.isValid() || Model->IsBitTable())
        return;
    const TRowFormats &formats = Model->Formats();
    const TValueFormat f = formats.Format(formats.Owner(Model->RegisterOf(current.row()) - 1));
    const auto &all = AllFormats();
    for (size_t i = 0; i < all.size(); ++i)
        if (all[i] == f)
            FormatBox->setCurrentIndex(int(i));
}

void TRegistersForm::returnToValue()
{
    // A format is chosen on the way to typing a value: keys go to the row's
    // value cell again, and the rows chosen stay chosen.
    const QModelIndex current = View->currentIndex();
    if (current.isValid())
        View->selectionModel()->setCurrentIndex(
            Model->index(current.row(), TRegisterModel::ValueColumn),
            QItemSelectionModel::NoUpdate);
    View->setFocus(Qt::OtherFocusReason);
}

std::vector<int> TRegistersForm::selectedRows() const
{
    std::vector<int> rows;
    for (const QModelIndex &i : View->selectionModel()->selectedRows())
        rows.push_back(i.row());
    if (rows.empty() && View->currentIndex().isValid())
        rows.push_back(View->currentIndex().row());
    std::sort(rows.begin(), rows.end());
    return rows;
}

void TRegistersForm::SetSelectedFormat(TValueFormat Format)
{
    const std::vector<int> rows = selectedRows();
    if (rows.empty())
        return;
    if (Model->SetFormat(rows, Format) > 0) {
        emit FormatsChanged();
        return;
    }
    const QString first = Model->data(Model->index(rows.front(), 0), Qt::DisplayRole).toString();
    if (Model->ItemAt(rows.front()) != nullptr)
        m_dialogs.ShowError(this, QStringLiteral("%1 is typed by the device map").arg(first));
    else
        m_dialogs.ShowError(
            this, QStringLiteral("%1 needs %2 registers from %3 on")
                      .arg(QString::fromStdString(FormatName(Format)))
                      .arg(RegisterSpan(Format.Kind))
                      .arg(Model->data(Model->index(rows.front(), 0), Qt::DisplayRole).toString()));
}

void TRegistersForm::Refresh()
{
    if (!isVisible())
        return;
    if (m_source.SelectedSlave() != m_titleSlave)
        updateTitle();
    const int rows = Model->rowCount();
    int first = View->rowAt(0);
    int last = View->rowAt(View->viewport()->height() - 1);
    if (first < 0)
        first = 0;
    if (last < 0)
        last = rows - 1;
    Model->Refresh(first, last);
}

void TRegistersForm::VisibleRegisters(int &RegType, int &First, int &Last) const
{
    RegType = Model->Table();
    First = 1;
    Last = 0;
    if (!isVisible())
        return;
    const int rows = Model->rowCount();
    int first = View->rowAt(0);
    int last = View->rowAt(View->viewport()->height() - 1);
    if (first < 0)
        first = 0;
    if (last < 0)
        last = rows - 1;
    // A row's value may start above it and reach below it.
    Model->RegistersOfRows(first, last, First, Last);
}

QString TRegistersForm::Jump(const QString &Text)
{
    const std::string text = Text.trimmed().toStdString();
    TRegisterRef ref{Model->Table(), 0};
    int64_t number = 0;
    if (ParseWholeNumber(text, 1, MaxTableRegisters, number) == TNumberCheck::Ok) {
        ref.RegAdr = int32_t(number);
    } else if (const auto named = ParseRegisterName(text, MaxTableRegisters)) {
        ref = *named;
    } else {
        return QStringLiteral("%1 is not a register (for example 4x40001, or 40001 in this table)")
            .arg(Text.trimmed());
    }
    for (int i = 0; i < TableBox->count(); ++i)
        if (TableBox->itemData(i).toInt() == ref.RegType)
            TableBox->setCurrentIndex(i);
    const int size = m_source.SelectedTables().TableSize(ref.RegType);
    if (ref.RegAdr > size)
        return QStringLiteral("%1 is beyond this slave's %2 registers of the table")
            .arg(QString::fromStdString(RegisterName(ref)))
            .arg(size);
    if (Model->RowOf(ref.RegAdr) < 0)
        FilterEdit->clear(); // the filter hides it: show every register again
    const int row = Model->RowOf(ref.RegAdr);
    if (row < 0)
        return QStringLiteral("%1 cannot be shown").arg(QString::fromStdString(RegisterName(ref)));
    const QModelIndex at = Model->index(row, TRegisterModel::ValueColumn);
    View->scrollTo(at, QAbstractItemView::PositionAtCenter);
    View->selectionModel()->setCurrentIndex(
        at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    View->setFocus(Qt::OtherFocusReason);
    return {};
}

void TRegistersForm::MapChanged()
{
    Model->Reload();
}

void TRegistersForm::showEvent(QShowEvent *Event)
{
    // Nothing was followed while hidden.
    Model->Reload();
    updateTitle();
    QWidget::showEvent(Event);
}

} // namespace quorlin
