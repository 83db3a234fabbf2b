// SPDX-License-Identifier: MIT
// Register values saved to and loaded from CSV files: every register of every
// emulated slave out, and a checked file in as queued writes.
#pragma once

#include <QString>

#include <string>
#include <string_view>

#include "engine/registercsv.h"

class QWidget;

namespace quorlin
{

class IProfileDialogs;
class IRegisterSource;

// Every register of every emulated slave as the values file holds them.
std::string ExportValuesText(const IRegisterSource &Source);
// The import's all-or-nothing check of a file's text: its entries, or the
// first bad line's reason ("line 12: 5x0001 is not a register").
TValuesImport CheckValuesText(std::string_view Text, IRegisterSource &Source);

// Writes every register of every emulated slave. Empty on success, else
// the reason ("Unable to write to <path>").
QString ExportValuesFile(const QString &Path, const IRegisterSource &Source);

// Checks the whole file first; a bad line refuses all of it, and the reason
// names the line. A good file queues its values like the user's writes:
// they land at the next tick. Empty on success, else the reason.
QString ImportValuesFile(const QString &Path, IRegisterSource &Source);

// The question asked before an export replaces an existing file.
QString ReplaceQuestion(const QString &Path);

// The two commands with their file dialogs and error boxes. Export asks
// before it replaces a file. Directory is
// where the dialog opens and takes the chosen file's directory.
void ExportValuesCommand(QWidget *Parent, const IRegisterSource &Source, IProfileDialogs &Dialogs,
                         QString &Directory);
void ImportValuesCommand(QWidget *Parent, IRegisterSource &Source, IProfileDialogs &Dialogs,
                         QString &Directory);

} // namespace quorlin
