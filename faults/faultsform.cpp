// SPDX-License-Identifier: MIT
#include "faults/faultsform.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>
#include <climits>

#include "faults/failnextdialog.h"

namespace quorlin
{

TFaultsForm::TFaultsForm(QWidget *Parent) : QDialog(Parent)
{
    setObjectName(QStringLiteral("FaultsForm"));
    setWindowTitle(QStringLiteral("Faults"));
    setSizeGripEnabled(true);

    auto *form = new QFormLayout;
    SlaveBox = new QComboBox(this);
    SlaveBox->setObjectName(QStringLiteral("SlaveBox"));
    SlaveBox->addItem(QStringLiteral("Every slave"), 0);
    form->addRow(QStringLiteral("Faults &of"), SlaveBox);
    EnabledBox = new QCheckBox(QStringLiteral("&Inject faults"), this);
    EnabledBox->setObjectName(QStringLiteral("EnabledBox"));
    form->addRow(EnabledBox);

    auto spin = [this, form](QSpinBox *&Edit, const char *Name, const QString &Caption, int Min,
                             int Max, const QString &Suffix = QString()) {
        Edit = new QSpinBox(this);
        Edit->setObjectName(QLatin1String(Name));
        Edit->setRange(Min, Max);
        Edit->setSuffix(Suffix);
        form->addRow(Caption, Edit);
    };
    const QString ms = QStringLiteral(" ms");
    const QString pct = QStringLiteral(" %");
    spin(MBidEdit, "MBidEdit", QStringLiteral("&For slave id"), 0, 255);
    MBidEdit->setSpecialValueText(QStringLiteral("every slave"));
    spin(DelayMsEdit, "DelayMsEdit", QStringLiteral("&Delay"), 0, MaxFaultDelayMs, ms);
    spin(DelayMaxMsEdit, "DelayMaxMsEdit", QStringLiteral("Delay up &to"), 0, MaxFaultDelayMs, ms);
    DelayMaxMsEdit->setSpecialValueText(QStringLiteral("fixed delay"));
    DelayMaxMsEdit->setToolTip(
        QStringLiteral("Above the delay: each delay is drawn from the range between the two"));
    spin(NoReplyEveryEdit, "NoReplyEveryEdit", QStringLiteral("&No reply to every Nth request"), 0,
         INT_MAX);
    spin(NoReplyPercentEdit, "NoReplyPercentEdit", QStringLiteral("No reply, &chance"), 0, 100,
         pct);
    spin(ExceptionEveryEdit, "ExceptionEveryEdit",
         QStringLiteral("&Exception to every Nth request"), 0, INT_MAX);
    spin(ExceptionCodeEdit, "ExceptionCodeEdit", QStringLiteral("Exception c&ode"), 0, 255);
    ExceptionCodeEdit->setSpecialValueText(
        QStringLiteral("%1 (default)").arg(DefaultFaultException));
    spin(BadCrcEveryEdit, "BadCrcEveryEdit", QStringLiteral("&Bad CRC on every Nth reply"), 0,
         INT_MAX);
    spin(BadCrcPercentEdit, "BadCrcPercentEdit", QStringLiteral("Bad CRC, c&hance"), 0, 100, pct);
    spin(WrongIdEveryEdit, "WrongIdEveryEdit", QStringLiteral("&Wrong id on every Nth reply"), 0,
         INT_MAX);
    spin(SplitReplyMsEdit, "SplitReplyMsEdit", QStringLiteral("&Split replies, gap"), 0,
         MaxFaultDelayMs, ms);
    spin(SeedEdit, "SeedEdit", QStringLiteral("Random s&eed"), INT_MIN, INT_MAX);
    for (QSpinBox *every : {NoReplyEveryEdit, ExceptionEveryEdit, BadCrcEveryEdit, WrongIdEveryEdit,
                            SplitReplyMsEdit, DelayMsEdit})
        every->setSpecialValueText(QStringLiteral("off"));
    for (QSpinBox *chance : {NoReplyPercentEdit, BadCrcPercentEdit})
        chance->setSpecialValueText(QStringLiteral("off"));

    FunctionsEdit = new QLineEdit(this);
    FunctionsEdit->setObjectName(QStringLiteral("FunctionsEdit"));
    FunctionsEdit->setPlaceholderText(QStringLiteral("every function, or e.g. 3,16"));
    form->addRow(QStringLiteral("Only f&unctions"), FunctionsEdit);
    RegistersEdit = new QLineEdit(this);
    RegistersEdit->setObjectName(QStringLiteral("RegistersEdit"));
    RegistersEdit->setPlaceholderText(QStringLiteral("every register, or e.g. 4x0100-4x0199,3x0001"));
    form->addRow(QStringLiteral("Only &registers"), RegistersEdit);
    AimErrorLabel = new QLabel(this);
    AimErrorLabel->setObjectName(QStringLiteral("AimErrorLabel"));
    AimErrorLabel->setStyleSheet(QStringLiteral("QLabel { color: #c00000; }"));
    AimErrorLabel->setWordWrap(true);
    AimErrorLabel->hide();

    FailNextButton = new QPushButton(QStringLiteral("Fail ne&xt..."), this);
    FailNextButton->setObjectName(QStringLiteral("FailNextButton"));
    FailNextButton->setAutoDefault(false);
    connect(FailNextButton, &QPushButton::clicked, this, &TFaultsForm::FailNextClick);
    FailNextLabel = new QLabel(this);
    FailNextLabel->setObjectName(QStringLiteral("FailNextLabel"));
    FailNextLabel->setWordWrap(true);
    connect(SlaveBox, &QComboBox::currentIndexChanged, this, &TFaultsForm::slaveChosen);

    CountsLabel = new QLabel(this);
    CountsLabel->setObjectName(QStringLiteral("CountsLabel"));
    CountsLabel->setWordWrap(true);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->setObjectName(QStringLiteral("Buttons"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *top = new QVBoxLayout(this);
    top->addLayout(form);
    top->addWidget(AimErrorLabel);
    top->addWidget(CountsLabel);
    auto *failRow = new QHBoxLayout;
    failRow->addWidget(FailNextButton);
    failRow->addWidget(FailNextLabel, 1);
    top->addLayout(failRow);
    top->addStretch();
    top->addWidget(buttons);

    m_refresh = new QTimer(this);
    m_refresh->setInterval(500);
    connect(m_refresh, &QTimer::timeout, this, &TFaultsForm::RefreshCounts);
}

void TFaultsForm::LoadFaults(const TFaultSettings &F)
{
    if (m_shown == 0)
        showSettings(F);
    else
        m_line = F;
}

TFaultSettings TFaultsForm::Faults() const
{
    return m_shown == 0 ? shownSettings() : m_line;
}

void TFaultsForm::LoadSlaveFaults(const std::vector<int> &SlaveIds,
                                  const std::map<int, TFaultSettings> &SlaveFaults)
{
    ShowSlave(0);
    const QSignalBlocker quiet(SlaveBox);
    while (SlaveBox->count() > 1)
        SlaveBox->removeItem(1);
    for (int id : SlaveIds)
        SlaveBox->addItem(QStringLiteral("Slave %1").arg(id), id);
    m_slaves = SlaveFaults;
    m_loaded = SlaveFaults;
}

std::map<int, TFaultSettings> TFaultsForm::SlaveFaults() const
{
    std::map<int, TFaultSettings> all = m_slaves;
    if (m_shown != 0)
        all[m_shown] = shownSettings();
    // A slave merely looked at gets no section.
    for (auto it = all.begin(); it != all.end();)
        it = it->second == TFaultSettings{} && !m_loaded.contains(it->first) ? all.erase(it)
                                                                             : std::next(it);
    return all;
}

void TFaultsForm::ShowSlave(int SlaveId)
{
    const int index = SlaveBox->findData(SlaveId);
    if (index >= 0)
        SlaveBox->setCurrentIndex(index);
}

void TFaultsForm::slaveChosen(int Index)
{
    const int id = SlaveBox->itemData(Index).toInt();
    if (id == m_shown)
        return;
    if (m_shown == 0)
        m_line = shownSettings();
    else
        m_slaves[m_shown] = shownSettings();
    m_shown = id;
    if (id == 0) {
        showSettings(m_line);
    } else {
        const auto found = m_slaves.find(id);
        showSettings(found != m_slaves.end() ? found->second : TFaultSettings{});
    }
    // A slave's section is its own: the slave id is not asked, and "on"
    // means it no longer follows every slave's.
    MBidEdit->setEnabled(id == 0);
    EnabledBox->setText(id == 0 ? QStringLiteral("&Inject faults")
                                : QStringLiteral("&Own faults for slave %1 (else it follows "
                                                 "every slave's)")
                                      .arg(id));
    RefreshCounts();
}

QString TFaultsForm::aimError(const TFaultSettings &F)
{
    if (!ParseFunctionList(F.Functions).Ok)
        return QStringLiteral("\"%1\" is no list of function codes 1 to 255 (e.g. 3,16 or 1-4).")
            .arg(QString::fromStdString(F.Functions));
    if (!ParseRegisterList(F.Registers).Ok)
        return QStringLiteral("\"%1\" is no list of registers (e.g. 4x0100-4x0199,3x0001).")
            .arg(QString::fromStdString(F.Registers));
    return QString();
}

void TFaultsForm::accept()
{
    QString error;
    if (const QString e = aimError(Faults()); !e.isEmpty()) {
        error = e;
        ShowSlave(0);
    }
    for (const auto &[id, f] : SlaveFaults()) {
        if (!error.isEmpty())
            break;
        if (const QString e = aimError(f); !e.isEmpty()) {
            error = QStringLiteral("Slave %1: ").arg(id) + e;
            ShowSlave(id);
        }
    }
    if (!error.isEmpty()) {
        AimErrorLabel->setText(error);
        AimErrorLabel->show();
        return;
    }
    AimErrorLabel->hide();
    QDialog::accept();
}

void TFaultsForm::FailNextClick()
{
    TFailNextDialog ask(m_shown, this);
    if (ask.exec() != QDialog::Accepted)
        return;
    if (FailNextSink && !FailNextSink(ask.Order()))
        FailNextLabel->setText(QStringLiteral("The order was refused."));
    else
        RefreshCounts();
}

void TFaultsForm::showSettings(const TFaultSettings &F)
{
    EnabledBox->setChecked(F.Enabled != 0);
    MBidEdit->setValue(F.MBid);
    DelayMsEdit->setValue(F.DelayMs);
    DelayMaxMsEdit->setValue(F.DelayMaxMs);
    NoReplyEveryEdit->setValue(F.NoReplyEvery);
    NoReplyPercentEdit->setValue(F.NoReplyPercent);
    ExceptionEveryEdit->setValue(F.ExceptionEvery);
    ExceptionCodeEdit->setValue(F.ExceptionCode);
    BadCrcEveryEdit->setValue(F.BadCrcEvery);
    BadCrcPercentEdit->setValue(F.BadCrcPercent);
    WrongIdEveryEdit->setValue(F.WrongIdEvery);
    SplitReplyMsEdit->setValue(F.SplitReplyMs);
    SeedEdit->setValue(F.Seed);
    FunctionsEdit->setText(QString::fromStdString(F.Functions));
    RegistersEdit->setText(QString::fromStdString(F.Registers));
}

TFaultSettings TFaultsForm::shownSettings() const
{
    TFaultSettings f;
    f.Enabled = EnabledBox->isChecked() ? 1 : 0;
    f.MBid = MBidEdit->value();
    f.DelayMs = DelayMsEdit->value();
    f.DelayMaxMs = DelayMaxMsEdit->value();
    f.NoReplyEvery = NoReplyEveryEdit->value();
    f.NoReplyPercent = NoReplyPercentEdit->value();
    f.ExceptionEvery = ExceptionEveryEdit->value();
    f.ExceptionCode = ExceptionCodeEdit->value();
    f.BadCrcEvery = BadCrcEveryEdit->value();
    f.BadCrcPercent = BadCrcPercentEdit->value();
    f.WrongIdEvery = WrongIdEveryEdit->value();
    f.SplitReplyMs = SplitReplyMsEdit->value();
    f.Seed = SeedEdit->value();
    f.Functions = FunctionsEdit->text().trimmed().toStdString();
    f.Registers = RegistersEdit->text().trimmed().toStdString();
    if (m_shown != 0)
        f.MBid = 0;
    return f;
}

void TFaultsForm::RefreshCounts()
{
    if (m_shown == 0) {
        CountsLabel->setText(DescribeFaultCounts(CountsSource ? CountsSource() : TFaultCounts{}));
    } else {
        const std::optional<TFaultCounts> own =
            SlaveCountsSource ? SlaveCountsSource(m_shown) : std::nullopt;
        CountsLabel->setText(own ? DescribeFaultCounts(*own)
                                 : QStringLiteral("Slave %1 follows every slave's faults.")
                                       .arg(m_shown));
    }
    FailNextLabel->setText(DescribeFailNext(FailNextSource ? FailNextSource() : TFailNext{}));
}

void TFaultsForm::showEvent(QShowEvent *Event)
{
    RefreshCounts();
    m_refresh->start();
    QDialog::showEvent(Event);
}

void TFaultsForm::hideEvent(QHideEvent *Event)
{
    m_refresh->stop();
    QDialog::hideEvent(Event);
}

QString DescribeFaultCounts(const TFaultCounts &C)
{
    return QStringLiteral("Since the faults were last set: %1 requests counted; %2 without "
                          "reply, %3 exceptions, %4 wrong ids, %5 bad CRCs; %6 replies delayed, "
                          "%7 split, %8 cancelled by a newer request.")
        .arg(C.Requests)
        .arg(C.NoReply)
        .arg(C.Exception)
        .arg(C.WrongId)
        .arg(C.BadCrc)
        .arg(C.Delayed)
        .arg(C.Split)
        .arg(C.Cancelled) +
           (C.FailedNext > 0 ? QStringLiteral(" %1 failed by \"fail next\".").arg(C.FailedNext)
                             : QString());
}

} // namespace quorlin

namespace quorlin
{

QString FaultsSummary(const TFaultSettings &F)
{
    QStringList parts;
    auto every = [&parts](int N, const QString &What) {
        if (N > 0)
            parts << (N == 1 ? QStringLiteral("%1 always").arg(What)
                             : QStringLiteral("%1 every %2").arg(What).arg(N));
    };
    auto chance = [&parts](int P, const QString &What) {
        if (P > 0)
            parts << QStringLiteral("%1 %2 %").arg(What).arg(P);
    };
    if (F.MBid != 0)
        parts << QStringLiteral("slave %1 only").arg(F.MBid);
    every(F.NoReplyEvery, QStringLiteral("no reply"));
    chance(F.NoReplyPercent, QStringLiteral("no reply"));
    every(F.ExceptionEvery,
          QStringLiteral("exception %1")
              .arg(F.ExceptionCode != 0 ? F.ExceptionCode : DefaultFaultException));
    every(F.WrongIdEvery, QStringLiteral("wrong id"));
    every(F.BadCrcEvery, QStringLiteral("bad CRC"));
    chance(F.BadCrcPercent, QStringLiteral("bad CRC"));
    if (F.DelayMaxMs > F.DelayMs)
        parts << QStringLiteral("delay %1-%2 ms").arg(F.DelayMs).arg(F.DelayMaxMs);
    else if (F.DelayMs > 0)
        parts << QStringLiteral("delay %1 ms").arg(F.DelayMs);
    if (F.SplitReplyMs > 0)
        parts << QStringLiteral("split %1 ms").arg(F.SplitReplyMs);
    if (parts.isEmpty())
        parts << QStringLiteral("none set");
    if (!F.Functions.empty())
        parts << QStringLiteral("functions %1 only").arg(QString::fromStdString(F.Functions));
    if (!F.Registers.empty())
        parts << QStringLiteral("registers %1 only").arg(QString::fromStdString(F.Registers));
    return QStringLiteral("FAULTS ON: ") + parts.join(QStringLiteral(", "));
}

} // namespace quorlin
