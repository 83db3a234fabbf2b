// SPDX-License-Identifier: MIT
#include "serial/ui/spinedit.h"

#include <QKeyEvent>
#include <QLineEdit>

#include <algorithm>

namespace quorlin
{

TSpinEdit::TSpinEdit(QWidget *Parent) : QSpinBox(Parent)
{
    setContextMenuPolicy(Qt::NoContextMenu);
    lineEdit()->setContextMenuPolicy(Qt::NoContextMenu);
    lineEdit()->setDragEnabled(false);
    lineEdit()->setAcceptDrops(false);
    setAcceptDrops(false);
    lineEdit()->installEventFilter(this);
    setAccelerated(false);
    setKeyboardTracking(true);
}

int TSpinEdit::Value() const
{
    bool ok = false;
    const int v = lineEdit()->text().toInt(&ok, 10);
    if (!ok)
        return minimum();
    return std::clamp(v, minimum(), maximum());
}

void TSpinEdit::SetValue(int Value)
{
    setValue(std::clamp(Value, minimum(), maximum()));
    // setValue leaves a text that was emptied by Delete alone when the value
    // is unchanged; the text is what counts.
    lineEdit()->setText(QString::number(value()));
}

QString TSpinEdit::Text() const
{
    return lineEdit()->text();
}

void TSpinEdit::keyPressEvent(QKeyEvent *Event)
{
    if (Event->matches(QKeySequence::Cut) || Event->matches(QKeySequence::Paste) ||
        Event->matches(QKeySequence::Undo) || Event->matches(QKeySequence::Redo)) {
        Event->accept();
        return;
    }
    switch (Event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
        stepBy(Event->key() == Qt::Key_Up ? 1 : -1);
        Event->accept();
        return;
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Backspace:
        Event->accept();
        return;
    case Qt::Key_Delete:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
        QSpinBox::keyPressEvent(Event);
        return;
    default:
        break;
    }
    // Copy and select-all do not change the text.
    if (Event->matches(QKeySequence::Copy) || Event->matches(QKeySequence::SelectAll)) {
        QSpinBox::keyPressEvent(Event);
        return;
    }
    if (!Event->text().isEmpty() || Event->key() == Qt::Key_Insert) {
        Event->accept();
        return;
    }
    QSpinBox::keyPressEvent(Event);
}

void TSpinEdit::stepBy(int Steps)
{
    // Step from what the text says, so a value left half-deleted steps from
    // the number the control reports.
    SetValue(Value() + Steps);
    lineEdit()->selectAll();
}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const
{
    StepEnabled e = StepNone;
    if (Value() < maximum())
        e |= StepUpEnabled;
    if (Value() > minimum())
        e |= StepDownEnabled;
    return e;
}

void TSpinEdit::focusOutEvent(QFocusEvent *Event)
{
    const int v = Value();
    QSpinBox::focusOutEvent(Event);
    SetValue(v);
}

bool TSpinEdit::eventFilter(QObject *Watched, QEvent *Event)
{
    // The selection paste of the middle mouse button.
    if (Watched == lineEdit() &&
        (Event->type() == QEvent::MouseButtonRelease ||
         Event->type() == QEvent::MouseButtonPress) &&
        static_cast<QMouseEvent *>(Event)->button() == Qt::MiddleButton)
        return true;
    return QSpinBox::eventFilter(Watched, Event);
}

QValidator::State TSpinEdit::validate(QString &Input, int &) const
{
    // Deleting digits may leave any run of digits, or nothing; the value
    // read from it is brought into range when it is used.
    for (QChar c : Input)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return QValidator::Invalid;
    bool ok = false;
    const int v = Input.toInt(&ok, 10);
    if (ok && v >= minimum() && v <= maximum())
        return QValidator::Acceptable;
    return QValidator::Intermediate;
}

void TSpinEdit::fixup(QString &Input) const
{
    bool ok = false;
    const int v = Input.toInt(&ok, 10);
    Input = QString::number(ok ? std::clamp(v, minimum(), maximum()) : minimum());
}

} // namespace quorlin
