// SPDX-License-Identifier: MIT
// The about box: who makes Quorlin, what the emulator does, and the versions
// of the program file and of scripts.dll.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <QUrl>

#include <functional>
#include <string>

class QFrame;
class QLabel;
class QPushButton;

namespace quorlin
{

// The maker, as the box shows it.
inline constexpr const char *MakerName = "The Quorlin developers";
inline constexpr const char *MakerPlace = "Portland, Oregon, USA";
inline constexpr const char *MakerPhone = "+1 503 555 0142";
inline constexpr const char *MakerEmail = "support@quorlin.example.org";
inline constexpr const char *MakerWeb = "https://quorlin.example.org/";

class TAboutBox : public QDialog
{
    Q_OBJECT
  public:
    explicit TAboutBox(QWidget *parent = nullptr);

    // Where the version lines look. By default scripts.dll is searched as the
    // script library is loaded (the program's directory first) and the
    // program file is the running executable.
    void setProgramDir(const std::string &dir) { m_programDir = dir; }
    void setProgramFile(const QString &path) { m_programFile = path; }
    // The link handler; QDesktopServices::openUrl by default.
    void setLinkHandler(std::function<bool(const QUrl &)> handler)
    {
        m_openUrl = std::move(handler);
    }

    // The two version lines: a file without version information leaves its
    // line as it stands.
    void UpdateVersionLines();
    // What the main window's "A&bout" runs: the version lines, then the box,
    // modal, until OK, Enter, Esc or its close box.
    int About2Click();

    void CommentsClick();
    void Label6Click();

    QFrame *Panel1 = nullptr;
    QLabel *ProgramIcon = nullptr;
    QLabel *Label4 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *Label5 = nullptr;
    QLabel *Comments = nullptr;
    QLabel *Label6 = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Version = nullptr;
    QLabel *Label2 = nullptr;
    QPushButton *OKButton = nullptr;

  protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;

  private:
    std::string m_programDir;
    QString m_programFile;
    std::function<bool(const QUrl &)> m_openUrl;
};

// The ten lines of the box's description.
QString AboutDescription();
// Our logo, 220 by 45 pixels, drawn rather than shipped.
QPixmap QuorlinLogo();

} // namespace quorlin
