// SPDX-License-Identifier: MIT
// The modal questions and file dialogs of the profile commands, behind an
// interface so tests can answer them without a person.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

class QWidget;

namespace quorlin {

enum class TConfirmAnswer { Yes, No, Cancel };

struct TFileDialogRequest {
    QString Title;
    QStringList Filters;   // the first one selected
    QString DefaultSuffix; // added when the typed name has none
    QString Directory;     // where the dialog starts
    QString FileName;      // the file name field (a bare name, or a full path)
    bool FileMustExist = false;

    bool operator==(const TFileDialogRequest &) const = default;
};

// A CSV file to open (MustExist) or save: Kind names what the files hold,
// as the first filter shows it ("Device maps").
inline TFileDialogRequest CsvFileDialog(const QString &Title, const QString &Kind,
                                        const QString &Directory, bool MustExist)
{
    TFileDialogRequest r;
    r.Title = Title;
    r.Filters = {Kind + QStringLiteral(" (*.csv)"), QStringLiteral("All files (*)")};
    r.DefaultSuffix = QStringLiteral("csv");
    r.Directory = Directory;
    r.FileMustExist = MustExist;
    return r;
}

class IProfileDialogs {
public:
    virtual ~IProfileDialogs() = default;
    // A confirmation with the caption "Confirm": Yes and No, plus Cancel when asked for.
    virtual TConfirmAnswer Confirm(QWidget *Parent, const QString &Text, bool WithCancel) = 0;
    // An error that ends a command, such as "Unable to write to <path>".
    virtual void ShowError(QWidget *Parent, const QString &Text) = 0;
    // The chosen file, or nothing when the dialog was cancelled.
    virtual std::optional<QString> SaveFileName(QWidget *Parent, const TFileDialogRequest &Request) = 0;
    virtual std::optional<QString> OpenFileName(QWidget *Parent, const TFileDialogRequest &Request) = 0;
};

// QMessageBox and QFileDialog.
class TQtProfileDialogs : public IProfileDialogs {
public:
    TConfirmAnswer Confirm(QWidget *Parent, const QString &Text, bool WithCancel) override;
    void ShowError(QWidget *Parent, const QString &Text) override;
    std::optional<QString> SaveFileName(QWidget *Parent, const TFileDialogRequest &Request) override;
    std::optional<QString> OpenFileName(QWidget *Parent, const TFileDialogRequest &Request) override;
};

} // namespace quorlin
