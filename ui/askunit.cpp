// SPDX-License-Identifier: MIT
#include "ui/askunit.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include "serial/ui/designfit.h"

namespace quorlin
{

TAskForm::TAskForm(QWidget *Parent)
    : QDialog(Parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      Edit1(new QLineEdit(this)), Button1(new QPushButton(QStringLiteral("OK"), this)),
      Button2(new QPushButton(QStringLiteral("Cancel"), this))
{
    setObjectName(QStringLiteral("AskForm"));
    setWindowTitle(QStringLiteral("Enter new Value..."));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setFixedSize(185, 83);

    Edit1->setObjectName(QStringLiteral("Edit1"));
    Edit1->setGeometry(16, 12, 153, 21);
    Edit1->setMaxLength(5);
    Edit1->setText(QStringLiteral("0"));
    Edit1->installEventFilter(this);

    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(16, 46, 75, 25);
    Button1->setDefault(true);
    Button1->setAutoDefault(true);
    Button2->setObjectName(QStringLiteral("Button2"));
    Button2->setGeometry(94, 46, 75, 25);
    Button2->setAutoDefault(false);

    // QDialog already maps Escape to reject().
    connect(Button1, &QPushButton::clicked, this, [this] {
        Button1Click();
        accept();
    });
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
    FitDesignToFont(*this);
}

bool TAskForm::Edit1KeyPress(const QKeyEvent &Key)
{
    if (Key.key() == Qt::Key_Backspace)
        return false;
    const QString text = Key.text();
    // Keys without a character (arrows, Delete) and control characters
    // (Enter, Escape, Tab, Ctrl+V) keep their usual meaning.
    if (text.isEmpty() || !text.at(0).isPrint())
        return false;
    for (QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return true;
    return false;
}

bool TAskForm::eventFilter(QObject *Watched, QEvent *Event)
{
    if (Watched == Edit1 && Event->type() == QEvent::KeyPress)
        return Edit1KeyPress(*static_cast<QKeyEvent *>(Event));
    return QDialog::eventFilter(Watched, Event);
}

void TAskForm::Button1Click()
{
    const QString text = Edit1->text();
    if (text.isEmpty()) {
        Edit1->setText(QStringLiteral("0"));
        return;
    }
    // Only pasting can bring anything but digits here; such text is left for
    // the caller's conversion to refuse.
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, 10);
    if (ok && v > 65535)
        Edit1->setText(QStringLiteral("65535"));
    else if (ok && v < 0) // a pasted "-5" would otherwise wrap round to 65531
        Edit1->setText(QStringLiteral("0"));
}

} // namespace quorlin
