// SPDX-License-Identifier: MIT
#include "scripts/ui/addscript.h"
#include "serial/ui/designfit.h"
#include "serial/ui/placement.h"

#include <QComboBox>
#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

#include <algorithm>
#include <iterator>
#include <limits>

namespace quorlin
{

namespace
{

// Register type digit of each ComboBox1 item, in item order.
constexpr uint8_t TypeOfItem[] = {RegTypeCoil, RegTypeDiscreteInput, RegTypeInputReg,
                                  RegTypeHoldingReg};

const char *const EmptyDescription = "This is EMPTY script, it always returns \"0\".";
const char *const NotUsed = "<not used>";

// A signed 32-bit decimal number: optional sign, then digits only.
bool parseInt32(const QString &text, int32_t &value)
{
    const QByteArray bytes = text.toLatin1();
    if (bytes.isEmpty() || text.size() != bytes.size())
        return false;
    qsizetype i = 0;
    bool negative = false;
    if (bytes[0] == '+' || bytes[0] == '-') {
        negative = bytes[0] == '-';
        ++i;
    }
    if (i == bytes.size())
        return false;
    int64_t magnitude = 0;
    for (; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c < '0' || c > '9')
            return false;
        magnitude = magnitude * 10 + (c - '0');
        if (magnitude > int64_t(std::numeric_limits<int32_t>::max()) + 1)
            return false;
    }
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int32_t>::max())
        return false;
    value = int32_t(signedValue);
    return true;
}

QLabel *caption(QWidget *parent, const char *text, int left)
{
    auto *label = new QLabel(QString::fromLatin1(text), parent);
    label->setGeometry(left, 10, 100, 16);
    return label;
}

} // namespace

QString scriptText(const std::string &Text)
{
    // Script libraries write 8-bit text; UTF-8 is the Linux convention, and
    // anything that is not valid UTF-8 is shown byte for byte.
    QString decoded = QString::fromUtf8(Text.data(), qsizetype(Text.size()));
    if (decoded.contains(QChar::ReplacementCharacter))
        return QString::fromLatin1(Text.data(), qsizetype(Text.size()));
    return decoded;
}

TAddSForm::TAddSForm(const TScriptList &ScriptList, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_scriptList(ScriptList)
{
    setObjectName(QStringLiteral("AddSForm"));
    setWindowTitle(QStringLiteral("Add Script..."));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(489, 224);

    caption(this, "Reg Type", 30)->setObjectName(QStringLiteral("Label1"));
    caption(this, "Reg Address", 190)->setObjectName(QStringLiteral("Label2"));
    caption(this, "Script", 370)->setObjectName(QStringLiteral("Label3"));

    ComboBox1 = new QComboBox(this);
    ComboBox1->setObjectName(QStringLiteral("ComboBox1"));
    ComboBox1->setEditable(false);
    ComboBox1->addItems({QStringLiteral("0x (DO)"), QStringLiteral("1x (DI)"),
                         QStringLiteral("3x (AI)"), QStringLiteral("4x (AO)")});
    ComboBox1->setCurrentIndex(-1);
    ComboBox1->setGeometry(30, 30, 111, 22);

    SpinEdit1 = new QSpinBox(this);
    SpinEdit1->setObjectName(QStringLiteral("SpinEdit1"));
    SpinEdit1->setRange(1, BitRegisterCount);
    SpinEdit1->setValue(1);
    SpinEdit1->setGeometry(190, 30, 81, 22);
    if (auto *line = SpinEdit1->findChild<QLineEdit *>())
        line->setMaxLength(4);

    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->setEditable(false);
    ComboBox2->setGeometry(310, 30, 145, 22);

    QLineEdit **edits[] = {&Edit1, &Edit2, &Edit3};
    QLabel **notes[] = {&D1L, &D2L, &D3L};
    for (int i = 0; i < 3; ++i) {
        auto *edit = new QLineEdit(QStringLiteral("0"), this);
        edit->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
        edit->setGeometry(30, 70 + 30 * i, 71, 22);
        edit->installEventFilter(this);
        *edits[i] = edit;
        auto *note = new QLabel(QString::fromLatin1(NotUsed), this);
        note->setObjectName(QStringLiteral("D%1L").arg(i + 1));
        note->setGeometry(110, 75 + 30 * i, 371, 16);
        *notes[i] = note;
    }

    DL = new QLabel(QString::fromLatin1(EmptyDescription), this);
    DL->setObjectName(QStringLiteral("DL"));
    DL->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    DL->setGeometry(10, 160, 461, 16);

    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(77, 190, 75, 25);
    Button1->setDefault(true);
    Button1->setAutoDefault(true);

    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(337, 190, 75, 25);
    Button2->setAutoDefault(false);

    setTabOrder(ComboBox1, SpinEdit1);
    setTabOrder(SpinEdit1, ComboBox2);
    setTabOrder(ComboBox2, Edit1);
    setTabOrder(Edit1, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Button1);
    setTabOrder(Button1, Button2);

    connect(ComboBox1, &QComboBox::currentIndexChanged, this, [this] { ComboBox1Change(); });
    connect(ComboBox2, &QComboBox::currentIndexChanged, this, [this] { ComboBox2Change(); });
    connect(Button1, &QPushButton::clicked, this, &TAddSForm::accept);
    connect(Button2, &QPushButton::clicked, this, &TAddSForm::reject);

    FormCreate();
    FitDesignToFont(*this);
}

void TAddSForm::FormCreate()
{
    ComboBox2->clear();
    ComboBox2->addItem(QString::fromLatin1(EmptyScriptName));
    for (const TScriptItem &item : m_scriptList)
        ComboBox2->addItem(scriptText(item.Name));
    ComboBox2->setCurrentIndex(0);
    ComboBox2Change();
    updateOkButton();
}

int TAddSForm::typeIndex(uint8_t RegType)
{
    for (int i = 0; i < int(std::size(TypeOfItem)); ++i)
        if (TypeOfItem[i] == RegType)
            return i;
    return -1;
}

int TAddSForm::maxAddress(int index)
{
    return (index == 2 || index == 3) ? WordRegisterCount : BitRegisterCount;
}

void TAddSForm::setTableSizes(std::function<int(int RegType)> Size)
{
    m_tableSize = std::move(Size);
}

int TAddSForm::addressLimit(int index) const
{
    if (!m_tableSize)
        return maxAddress(index);
    if (index >= 0 && index < int(std::size(TypeOfItem)))
        return std::clamp(m_tableSize(TypeOfItem[index]), 1, MaxTableRegisters);
    // No type yet: the widest range, as for the usual sizes.
    int widest = maxAddress(index);
    for (const uint8_t type : TypeOfItem)
        widest = std::max(widest, std::clamp(m_tableSize(type), 1, MaxTableRegisters));
    return widest;
}

void TAddSForm::ComboBox1Change()
{
    // QSpinBox::setRange lowers a value above the new maximum to it, and a
    // wider range leaves the value where it is.
    const int limit = addressLimit(ComboBox1->currentIndex());
    SpinEdit1->setRange(1, limit);
    // Four digits as always; five where a slave serves more than 9999.
    if (auto *line = SpinEdit1->findChild<QLineEdit *>())
        line->setMaxLength(std::max(4, int(QString::number(limit).size())));
    updateOkButton();
}

void TAddSForm::ComboBox2Change()
{
    const int k = ComboBox2->currentIndex();
    if (k <= 0 || k > int(m_scriptList.size())) {
        D1L->setText(QString::fromLatin1(NotUsed));
        D2L->setText(QString::fromLatin1(NotUsed));
        D3L->setText(QString::fromLatin1(NotUsed));
        DL->setText(QString::fromLatin1(EmptyDescription));
        return;
    }
    const TScriptItem &item = m_scriptList[std::size_t(k - 1)];
    D1L->setText(scriptText(item.Param1Text));
    D2L->setText(scriptText(item.Param2Text));
    D3L->setText(scriptText(item.Param3Text));
    DL->setText(scriptText(item.Description));
}

void TAddSForm::prepareForAdd()
{
    setWindowTitle(QStringLiteral("Add Script..."));
    if (ComboBox1->currentIndex() < 0)
        ComboBox1->setCurrentIndex(0);
    // The slave may be another, of other sizes, than when last shown.
    ComboBox1Change();
    // The spin box never holds 0; its minimum is 1.
    updateOkButton();
}

void TAddSForm::loadBinding(const TScriptBinding &Binding)
{
    const int index = typeIndex(Binding.RegType);
    ComboBox1->setCurrentIndex(index);
    // A type without a table keeps the widest range so that whatever address
    // the binding holds stays visible until the user picks a type.
    ComboBox1Change();
    const uint32_t shown = std::min<uint32_t>(Binding.RegAdr, uint32_t(SpinEdit1->maximum()));
    SpinEdit1->setValue(int(std::max<uint32_t>(shown, 1)));
    Edit1->setText(QString::number(Binding.Param1));
    Edit2->setText(QString::number(Binding.Param2));
    Edit3->setText(QString::number(Binding.Param3));

    ComboBox2->setCurrentIndex(0);
    if (Binding.Name != EmptyScriptName) {
        for (std::size_t i = 0; i < m_scriptList.size(); ++i) {
            if (m_scriptList[i].Name == Binding.Name) {
                ComboBox2->setCurrentIndex(int(i) + 1);
                break;
            }
        }
    }
    ComboBox2Change();
    updateOkButton();
}

int TAddSForm::selectedRegType() const
{
    const int index = ComboBox1->currentIndex();
    return index < 0 ? -1 : TypeOfItem[index];
}

int TAddSForm::selectedAddress() const
{
    const int maximum = addressLimit(ComboBox1->currentIndex());
    bool ok = false;
    const qlonglong typed = SpinEdit1->cleanText().trimmed().toLongLong(&ok);
    if (!ok)
        return 1;
    return int(std::clamp<qlonglong>(typed, 1, maximum));
}

bool TAddSForm::readBinding(TScriptBinding &Binding, QString &error)
{
    QLineEdit *const edits[] = {Edit1, Edit2, Edit3};
    int32_t params[3] = {};
    for (int i = 0; i < 3; ++i) {
        if (edits[i]->text().isEmpty())
            edits[i]->setText(QStringLiteral("0"));
        if (!parseInt32(edits[i]->text(), params[i])) {
            error = QStringLiteral("'%1' is not a valid integer value").arg(edits[i]->text());
            return false;
        }
    }

    // Item 0 and anything past the list is the empty script. MakeBinding keeps
    // each parameter modulo 65536, looks the entry up and zeroes the context.
    const int k = ComboBox2->currentIndex();
    const bool listed = k > 0 && k <= int(m_scriptList.size());
    Binding = MakeBinding(
        m_scriptList, listed ? m_scriptList[std::size_t(k - 1)].Name : EmptyScriptName,
        std::max(selectedRegType(), 0), selectedAddress(), params[0], params[1], params[2]);
    return true;
}

void TAddSForm::accept()
{
    // OK takes effect only once a register type is chosen.
    if (ComboBox1->currentIndex() < 0)
        return;
    QDialog::accept();
}

void TAddSForm::updateOkButton()
{
    Button1->setEnabled(ComboBox1->currentIndex() >= 0);
}

bool TAddSForm::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress &&
        (watched == Edit1 || watched == Edit2 || watched == Edit3)) {
        // Edit1KeyPress: digits and backspace are typed; other characters are
        // dropped. Keys that type nothing (arrows, Tab, Enter) pass.
        const auto *key = static_cast<QKeyEvent *>(event);
        const QString text = key->text();
        if (key->key() == Qt::Key_Backspace || text.isEmpty())
            return false;
        if (text.size() == 1 && text[0] >= QLatin1Char('0') && text[0] <= QLatin1Char('9'))
            return false;
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter ||
            key->key() == Qt::Key_Escape || key->key() == Qt::Key_Tab ||
            key->key() == Qt::Key_Backtab)
            return false;
        // Shortcuts such as Ctrl+V carry control text; they are not characters.
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))
            return false;
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void TAddSForm::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    CentreOnScreen(*this);
}

} // namespace quorlin
