// SPDX-License-Identifier: MIT
// Our help viewer: a window that shows the user manual "Quorlin.hlp" (HTML)
// from the program's directory, and says so itself when the file is missing.
#pragma once

#include <QString>
#include <QWidget>

class QPushButton;
class QTextBrowser;

namespace quorlin
{

// The application's help file (its "HelpFile" property, "Quorlin.hlp" when
// unset) in ProgramDir, the executable's directory when empty.
QString HelpFilePath(const QString &ProgramDir = QString());

class THelpViewer : public QWidget
{
    Q_OBJECT
  public:
    // A window of its own; a parent only ties its lifetime to the main window.
    explicit THelpViewer(QWidget *parent = nullptr);

    // The help command "contents": opens helpFile at its contents page and
    // brings the window to the front. A missing or unreadable file leaves a
    // message in the viewer instead.
    void ShowContents(const QString &helpFile = HelpFilePath());

    // True while a help file is shown (false after the missing-file message).
    bool hasDocument() const { return m_hasDocument; }

    QTextBrowser *Browser = nullptr;
    QPushButton *ContentsButton = nullptr;
    QPushButton *BackButton = nullptr;
    QPushButton *ForwardButton = nullptr;

  private:
    bool m_hasDocument = false;
};

} // namespace quorlin
