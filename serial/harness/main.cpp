// SPDX-License-Identifier: MIT
// quorlin-slave: the emulator's engine and serial device without a window.
// Answers Modbus RTU (or ASCII) requests on one port until SIGTERM or SIGINT; used by the
// end-to-end tests and the latency benchmark, and by anyone scripting tests
// against a master.
//
//   quorlin-slave [options] DEVICE
//     DEVICE             a path (/dev/ttyUSB0, a pty) or COMn (mapped by [Ports])
//     --id N             slave id 1..255 (default 1)
//     --baud N           110 .. 256000 from the device's list (default 9600)
//     --parity P         none|odd|even|mark|space (default none)
//     --stopbits N       1|2 (default 1)
//     --flow F           none|cts|dtr|software|default (default none)
//     --ini PATH         INI file whose [Ports] section maps COMn names
//     --mode M           rtu|ascii (default rtu)
//     --databits N       7|8 (default 8); 7 only with --mode ascii
//     --framing F        length|strict (default length): strict ends an RTU
//                        request by 3.5 character times of silence and drops
//                        one with more than 1.5 of silence inside
//     --strict           the slave keeps the protocol strictly: exception 1
//                        for functions it does not serve, 3 for malformed ones
//     --pattern          fill discrete inputs and input registers with a
//                        known pattern: input n is on when n % 3 == 0, input
//                        register n holds n * 257 (mod 65536)
//     --delay MS         hold every reply back MS milliseconds (0..10000)
//     --split MS         send every reply in two halves, MS ms of silence
//                        after the first has left the line (0..10000)
//     --rs485            let the kernel drive an RS-485 transceiver by RTS
//                        (refused by the adapter: a message, exit status 1)
//     --rs485-rts-on-send 0|1     RTS level while sending (default 1)
//     --rs485-rts-after-send 0|1  RTS level after sending (default 0)
//     --rs485-delay-before MS     RTS this long before sending (0..100)
//     --rs485-delay-after MS      and this long after (0..100)
//     --ignore-echo      drop the echo of our own replies (two-wire adapters)
//     --trace FILE       write every frame to FILE as the program's trace
//                        (CSV, with the gap and turnaround columns), "-" for
//                        standard output
//     --no-timing        leave the gap and turnaround columns empty
//
// Prints "quorlin-slave ready on DEVICE id N" on stdout once it listens.
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <csignal>
#include <memory>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "engine/modbusslave.h"
#include "platform/dynlib.h"
#include "platform/filelocations.h"
#include "platform/portaccess.h"
#include "engine/registerimage.h"
#include "serial/commint.h"
#include "engine/deadline.h"
#include "serial/lineengine.h"
#include "engine/framequeue.h"
#include "monitor/traffic.h"

using namespace quorlin;

namespace
{

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    // Never blocks in the handler: one byte already waiting is enough.
    [[maybe_unused]] auto r = ::write(signalPipe[1], &c, 1);
}

int usage(const char *msg)
{
    std::fprintf(stderr,
                 "quorlin-slave: %s\n"
                 "usage: quorlin-slave [--id N] [--baud N] [--parity none|odd|even|mark|space]\n"
                 "                     [--stopbits 1|2] [--flow none|cts|dtr|software|default]\n"
                 "                     [--ini PATH] [--pattern] [--delay MS] [--split MS]\n"
                 "                     [--mode rtu|ascii] [--databits 7|8] [--rs485]\n"
                 "                     [--rs485-rts-on-send 0|1] [--rs485-rts-after-send 0|1]\n"
                 "                     [--rs485-delay-before MS] [--rs485-delay-after MS]\n"
                 "                     [--ignore-echo] [--trace FILE] [--no-timing]\n"
                 "                     [--framing length|strict] [--strict] DEVICE\n",
                 msg);
    return 2;
}

bool parseInt(const char *s, long lo, long hi, long &out)
{
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 10);
    if (errno || end == s || *end || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

template <class E, size_t N>
bool pick(const char *s, const char *const (&names)[N], const E (&values)[N], E &out)
{
    for (size_t i = 0; i < N; ++i)
        if (std::strcmp(s, names[i]) == 0) {
            out = values[i];
            return true;
        }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);

    long id = 1;
    TBaudrate baud = br9600;
    TParity parity = paNone;
    TStopbits stopbits = sb10;
    TFlowControl flow = fcNone;
    std::string device, ini;
    bool pattern = false;
    TSerialMode mode = TSerialMode::Rtu;
    TDatabits databits = da8;
    TSerialFraming framing = TSerialFraming::Length;
    bool strict = false;
    TFaultSettings faults;
    TRs485Settings rs485;
    bool ignoreEcho = false;
    std::string tracePath;
    bool timing = true;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char * { return i + 1 < argc ? argv[++i] : nullptr; };
        if (a == "--id") {
            const char *v = value();
            if (!v || !parseInt(v, 1, 255, id))
                return usage("--id takes a number 1..255");
        } else if (a == "--baud") {
            const char *v = value();
            long rate = 0;
            bool found = false;
            if (v && parseInt(v, 1, 10000000, rate))
                for (int b = br110; b <= br256000; ++b)
                    if (BaudRateValue(TBaudrate(b)) == uint32_t(rate)) {
                        baud = TBaudrate(b);
                        found = true;
                    }
            if (!found)
                return usage("--baud takes one of 110 300 600 1200 2400 4800 9600 14400 19200 "
                             "38400 56000 57600 115200 128000 256000");
        } else if (a == "--parity") {
            const char *v = value();
            static const char *const names[] = {"none", "odd", "even", "mark", "space"};
            static const TParity values[] = {paNone, paOdd, paEven, paMark, paSpace};
            if (!v || !pick(v, names, values, parity))
                return usage("--parity takes none, odd, even, mark or space");
        } else if (a == "--stopbits") {
            const char *v = value();
            static const char *const names[] = {"1", "2"};
            static const TStopbits values[] = {sb10, sb20};
            if (!v || !pick(v, names, values, stopbits))
                return usage("--stopbits takes 1 or 2");
        } else if (a == "--flow") {
            const char *v = value();
            static const char *const names[] = {"none", "cts", "dtr", "software", "default"};
            static const TFlowControl values[] = {fcNone, fcCTS, fcDTR, fcSoftware, fcDefault};
            if (!v || !pick(v, names, values, flow))
                return usage("--flow takes none, cts, dtr, software or default");
        } else if (a == "--ini") {
            const char *v = value();
            if (!v)
                return usage("--ini takes a path");
            ini = v;
        } else if (a == "--mode") {
            const char *v = value();
            if (v != nullptr && std::strcmp(v, "rtu") == 0)
                mode = TSerialMode::Rtu;
            else if (v != nullptr && std::strcmp(v, "ascii") == 0)
                mode = TSerialMode::Ascii;
            else
                return usage("--mode takes rtu or ascii");
        } else if (a == "--databits") {
            const char *v = value();
            if (v != nullptr && std::strcmp(v, "7") == 0)
                databits = da7;
            else if (v != nullptr && std::strcmp(v, "8") == 0)
                databits = da8;
            else
                return usage("--databits takes 7 or 8");
        } else if (a == "--framing") {
            const char *v = value();
            if (v != nullptr && std::strcmp(v, "length") == 0)
                framing = TSerialFraming::Length;
            else if (v != nullptr && std::strcmp(v, "strict") == 0)
                framing = TSerialFraming::Strict;
            else
                return usage("--framing takes length or strict");
        } else if (a == "--strict") {
            strict = true;
        } else if (a == "--rs485") {
            rs485.Enabled = true;
        } else if (a == "--rs485-rts-on-send" || a == "--rs485-rts-after-send") {
            const char *v = value();
            long level = 0;
            if (!v || !parseInt(v, 0, 1, level))
                return usage((a + " takes 0 or 1").c_str());
            (a == "--rs485-rts-on-send" ? rs485.RtsOnSend : rs485.RtsAfterSend) = level != 0;
        } else if (a == "--rs485-delay-before" || a == "--rs485-delay-after") {
            const char *v = value();
            long ms = 0;
            if (!v || !parseInt(v, 0, MaxRs485DelayMs, ms))
                return usage((a + " takes milliseconds 0..100").c_str());
            (a == "--rs485-delay-before" ? rs485.DelayBeforeMs : rs485.DelayAfterMs) = int(ms);
        } else if (a == "--ignore-echo") {
            ignoreEcho = true;
        } else if (a == "--trace") {
            const char *v = value();
            if (!v || !*v)
                return usage("--trace takes a file name or -");
            tracePath = v;
        } else if (a == "--no-timing") {
            timing = false;
        } else if (a == "--pattern") {
            pattern = true;
        } else if (a == "--delay" || a == "--split") {
            const char *v = value();
            long ms = 0;
            if (!v || !parseInt(v, 0, MaxFaultDelayMs, ms))
                return usage((a + " takes milliseconds 0..10000").c_str());
            (a == "--delay" ? faults.DelayMs : faults.SplitReplyMs) = int(ms);
            faults.Enabled = 1;
        } else if (a == "-h" || a == "--help") {
            usage("Modbus RTU or ASCII slave on one serial port");
            return 0;
        } else if (!a.empty() && a[0] == '-' && a != "-") {
            return usage(("unknown option " + a).c_str());
        } else if (device.empty()) {
            device = a;
        } else {
            return usage("one device only");
        }
    }
    if (device.empty())
        return usage("no device given");
    if (databits == da7 && mode != TSerialMode::Ascii)
        return usage("RTU needs 8 data bits");

    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, signalPipe) != 0) {
        std::perror("quorlin-slave: socketpair");
        return 1;
    }
    QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&stopNotifier, &QSocketNotifier::activated, &app, [&app] { app.quit(); });
    struct sigaction sa {
    };
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    TRegisterImage image;
    image.ClearImage();
    image.MBid = int(id);
    image.Options.Strict = strict;
    if (pattern) {
        for (int n = 1; n <= BitRegisterCount; ++n)
            image.DiscreteInputs[n] = n % 3 == 0 ? 1 : 0;
        for (int n = 1; n <= WordRegisterCount; ++n)
            image.InputRegs[n] = uint16_t(n * 257);
    }

    TComm comm;
    // The engine answers on the port's own thread, as in the program.
    TDeadline timeOut(100), reply(0);
    TModbusSlave slave(image, comm, timeOut);
    slave.SetMode(mode);
    slave.SetFraming(framing);
    slave.Faults().Load(faults);
    TLineEngine line(slave, comm, timeOut, reply);
    comm.SetLineHandler(&line);
    if (!timing)
        slave.SetClock(nullptr);
    // The trace: frames cross from the port's thread in the queue, and a
    // tick writes them, so no file write stands between a request and its reply.
    TFrameQueue frames;
    TTrafficRecorder recorder(1);
    std::unique_ptr<TCsvTrace> trace;
    QTimer traceTick;
    if (!tracePath.empty()) {
        std::FILE *f = tracePath == "-" ? stdout : std::fopen(tracePath.c_str(), "wb");
        if (f == nullptr) {
            std::fprintf(stderr, "quorlin-slave: cannot write %s: %s\n", tracePath.c_str(),
                         std::strerror(errno));
            return 1;
        }
        trace = std::make_unique<TCsvTrace>(f, tracePath != "-");
        recorder.Trace = trace.get();
        recorder.Paused = true; // the rows go to the trace only
        slave.SetObserver(&frames);
        traceTick.setInterval(100);
        QObject::connect(&traceTick, &QTimer::timeout, [&] {
            recorder.Take(frames);
            trace->Flush();
        });
        traceTick.start();
    }
    comm.SetMonitorEvents(commEvents({evRxChar}));
    comm.SetOptions(0);
    // Without --ini, the quorlin.ini the program itself would use.
    if (ini.empty())
        ini = ChooseFileLocations(ProbePlaces(programDirectory())).SettingsFile;
    comm.SetIniPath(ini);
    comm.SetDeviceName(device);
    comm.SetBaudRate(baud);
    comm.SetParity(parity);
    comm.SetStopbits(stopbits);
    comm.SetDatabits(databits);
    comm.SetFlowControl(flow);
    comm.SetRs485(rs485);
    comm.SetIgnoreEcho(ignoreEcho);
    comm.Open();
    if (!comm.IsOpen()) {
        const TSysError &error = comm.LastOpenError();
        std::fprintf(stderr, "quorlin-slave: %s%s\n", error.Message.c_str(),
                     IsPermissionError(error.Code)
                         ? ("; " + PermissionAdvice(DeviceGroup(comm.DevicePath()))).c_str()
                         : "");
        return 1;
    }
    if (comm.Rs485Error()) {
        // Asked for by name: without it no reply would reach the bus.
        std::fprintf(stderr, "quorlin-slave: %s\n", comm.Rs485Error().Message.c_str());
        comm.Close();
        return 1;
    }
    std::printf("quorlin-slave ready on %s id %ld\n", device.c_str(), id);
    std::fflush(stdout);
    // A device that goes away later (an adapter unplugged) is taken back
    // once it returns.
    comm.SetRetryInterval(1000);
    QObject::connect(&comm, &TCustomComm::ConnectionChanged, [&comm] {
        if (!comm.IsOpen() && !comm.LastOpenWasRetry())
            std::fprintf(stderr, "quorlin-slave: %s\n", comm.CloseReason().c_str());
    });

    const int rc = app.exec();
    comm.Close();
    if (trace) {
        recorder.Take(frames);
        trace->Flush();
    }
    return rc;
}
