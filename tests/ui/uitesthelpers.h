// SPDX-License-Identifier: MIT
// Helpers for widget tests: answering modal dialogs, a program directory
// whose quorlin.ini maps COM ports to ptys, and a libmodbus master that runs
// on its own thread while the test serves the event loop.
#pragma once

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <functional>
#include <modbus.h>
#include <thread>

#include "tests/serial/ptypair.h"
// The file helpers and the master context the installed-program tests use.
#include "tests/ui/installedprogram.h"

namespace quorlin::testing
{

// Runs Action on the next modal dialog of type T, as soon as it is shown.
template <class T> void onNextModal(std::function<void(T *)> Action)
{
    auto *poll = new QTimer;
    poll->setInterval(5);
    QObject::connect(poll, &QTimer::timeout, [poll, Action] {
        if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget())) {
            poll->stop();
            poll->deleteLater();
            Action(dialog);
        }
    });
    poll->start();
}

// A program directory with a quorlin.ini whose section "Ports" maps COM2 to
// a pty and COM3 to a path that does not exist.
class ProgramDir
{
  public:
    ProgramDir()
    {
        m_ok = m_dir.isValid() && m_com2.ok() &&
               writeAll(m_dir.filePath(QStringLiteral("quorlin.ini")),
                        QStringLiteral("[Ports]\nCOM2=%1\nCOM3=%2\n")
                            .arg(QString::fromStdString(m_com2.path()),
                                 m_dir.filePath(QStringLiteral("no-such-port")))
                            .toUtf8());
    }
    bool ok() const { return m_ok; }
    QString path() const { return m_dir.path(); }
    const PtyPair &com2() const { return m_com2; }

  private:
    QTemporaryDir m_dir;
    PtyPair m_com2;
    bool m_ok = false;
};

// A libmodbus RTU master on the master side of a pty. Each request runs on a
// thread of its own while this thread serves the event loop, because the
// slave answers from the event loop.
class Master
{
  public:
    explicit Master(int Fd) : m_ctx(Fd) { modbus_set_response_timeout(m_ctx.get(), 5, 0); }

    // Runs Request(ctx) on a thread and returns its result.
    int run(const std::function<int(modbus_t *)> &Request)
    {
        std::atomic<bool> done{false};
        int result = -1;
        std::thread worker([&] {
            result = Request(m_ctx.get());
            done = true;
        });
        (void)QTest::qWaitFor([&] { return done.load(); }, 20000);
        worker.join();
        return result;
    }

  private:
    MasterContext m_ctx;
};

} // namespace quorlin::testing
