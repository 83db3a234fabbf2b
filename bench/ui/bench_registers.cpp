// SPDX-License-Identifier: MIT
// The main window's tick with the register table open over the 256 holding
// registers while a master writes 125 of them every 10 ms, and the CPU the
// program takes when idle with the table open. A master's write lands in the
// image at once, inside the receive step; here a 10 ms timer stores the 125
// values the same way, so the tick sees what it would see on a serial line.
#include <QApplication>
#include <QElapsedTimer>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <vector>

#include "registers/registersform.h"
#include "ui/mainunit.h"

using namespace quorlin;

namespace
{

double cpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

void runFor(int Milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(Milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

void report(const char *What, std::vector<double> Ms)
{
    std::sort(Ms.begin(), Ms.end());
    double sum = 0;
    for (double m : Ms)
        sum += m;
    std::printf("%-52s ticks %4zu  mean %6.3f ms  p99 %6.3f ms  max %6.3f ms\n", What, Ms.size(),
                sum / double(Ms.size()), Ms[Ms.size() * 99 / 100], Ms.back());
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir dir; // no quorlin.ini: COM1 does not open, which the tick does not mind
    TMainForm form(nullptr, dir.path());
    form.CreateDialogs();
    form.show();
    form.Registers1Click();
    TRegistersForm *table = form.RegistersForm();
    table->resize(520, 900); // some 30 rows on screen

    // The tick is timed on its own timer, with the repaint it causes.
    form.Timer1->stop();
    std::vector<double> tickMs, paintMs;
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        QElapsedTimer t;
        t.start();
        form.Tick();
        tickMs.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        QApplication::sendPostedEvents(); // the repaint of the changed cells
        paintMs.push_back(double(t.nsecsElapsed()) / 1e6);
    });

    uint16_t counter = 0;
    QTimer master;
    master.setInterval(10);
    QObject::connect(&master, &QTimer::timeout, [&] {
        ++counter;
        for (int n = 1; n <= 125; ++n)
            form.RegisterImage().HoldingRegs[size_t(n)] = uint16_t(counter + n);
    });

    tick.start();
    master.start();
    runFor(5000);
    master.stop();
    report("tick, table open, master writing 125 regs / 10 ms", tickMs);
    report("repaint after that tick", paintMs);
    std::vector<double> total(tickMs.size());
    for (size_t i = 0; i < tickMs.size(); ++i)
        total[i] = tickMs[i] + paintMs[i];
    report("tick + repaint", total);

    tickMs.clear();
    paintMs.clear();
    runFor(2000);
    report("tick, table open, no master", tickMs);
    tick.stop();

    // Idle: the program's own timer, the table open, nothing changing.
    form.Timer1->start();
    runFor(500);
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    runFor(10000);
    const double cpu = cpuSeconds() - cpu0;
    std::printf("idle CPU with the table open: %.3f %% of a core (%.3f s CPU in %.1f s)\n",
                100.0 * cpu / (double(wall.elapsed()) / 1000.0), cpu,
                double(wall.elapsed()) / 1000.0);
    return 0;
}
