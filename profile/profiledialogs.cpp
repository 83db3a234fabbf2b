// SPDX-License-Identifier: MIT
#include "profile/profiledialogs.h"
#include "profile/profilemanager.h"

#include <QFileDialog>
#include <QMessageBox>

namespace quorlin
{

TConfirmAnswer TQtProfileDialogs::Confirm(QWidget *Parent, const QString &Text, bool WithCancel)
{
    QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), Text,
                    WithCancel ? QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel
                               : QMessageBox::Yes | QMessageBox::No,
                    Parent);
    // Enter gives the answer that loses nothing: Yes saves before opening,
    // but Yes to the exit question would throw the changes away.
    box.setDefaultButton(WithCancel ? QMessageBox::Yes : QMessageBox::No);
    box.setEscapeButton(WithCancel ? QMessageBox::Cancel : QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Yes:
        return TConfirmAnswer::Yes;
    case QMessageBox::No:
        return TConfirmAnswer::No;
    default:
        // Closing a box that has no Cancel button counts as its escape answer.
        return WithCancel ? TConfirmAnswer::Cancel : TConfirmAnswer::No;
    }
}

void TQtProfileDialogs::ShowError(QWidget *Parent, const QString &Text)
{
    QMessageBox box(QMessageBox::Critical, QString::fromLatin1(ApplicationTitle), Text,
                    QMessageBox::Ok, Parent);
    box.exec();
}

namespace
{

std::optional<QString> runFileDialog(QWidget *Parent, const TFileDialogRequest &Request, bool Save)
{
    QFileDialog dialog(Parent, Request.Title);
    dialog.setObjectName(Save ? QStringLiteral("SaveDialog1") : QStringLiteral("OpenDialog1"));
    dialog.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(Request.FileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    // An existing file is replaced without a question, as the save has always done.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    dialog.setNameFilters(Request.Filters);
    if (!Request.Filters.isEmpty())
        dialog.selectNameFilter(Request.Filters.first());
    dialog.setDefaultSuffix(Request.DefaultSuffix);
    dialog.setDirectory(Request.Directory);
    if (!Request.FileName.isEmpty())
        dialog.selectFile(Request.FileName);
    dialog.setSizeGripEnabled(true);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty() || files.first().isEmpty())
        return std::nullopt;
    return files.first();
}

} // namespace

std::optional<QString> TQtProfileDialogs::SaveFileName(QWidget *Parent,
                                                       const TFileDialogRequest &Request)
{
    return runFileDialog(Parent, Request, true);
}

std::optional<QString> TQtProfileDialogs::OpenFileName(QWidget *Parent,
                                                       const TFileDialogRequest &Request)
{
    return runFileDialog(Parent, Request, false);
}

} // namespace quorlin
