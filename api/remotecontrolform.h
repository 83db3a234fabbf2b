// SPDX-License-Identifier: MIT
// "Remote Control": whether the HTTP API is on, the address and port it
// listens on and the file that holds its token, with OK and Cancel. A
// separate, resizable window; what it shows is kept in quorlin.ini.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace quorlin
{

struct TRemoteSettings {
    bool On = false;
    QString Address = QStringLiteral("127.0.0.1");
    int Port = 8502;
    QString TokenFile; // empty: none (generated when the address is not a loopback one)
    bool operator==(const TRemoteSettings &) const = default;
};

class TRemoteControlForm : public QDialog
{
    Q_OBJECT
  public:
    explicit TRemoteControlForm(QWidget *Parent = nullptr);

    void Load(const TRemoteSettings &Settings, const QString &State);
    TRemoteSettings Settings() const;

    QCheckBox *OnBox = nullptr;
    QLineEdit *AddressEdit = nullptr;
    QSpinBox *PortEdit = nullptr;
    QLineEdit *TokenFileEdit = nullptr;
    QLabel *StateLabel = nullptr; // "Listening on ..." or why it is not
};

} // namespace quorlin
