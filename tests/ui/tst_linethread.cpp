// SPDX-License-Identifier: MIT
// The main window on a pty, answering a master that runs on a thread of its
// own, while the window's thread does everything a user and the tick do at
// once: scripts bound to registers, values typed into the value dialog, a
// second slave added and removed, broadcasts accepted and refused, faults
// loaded, the traffic monitor and the register table open, the line's
// settings applied on the open port. The master checks every reply byte for
// byte against what it wrote itself; under ThreadSanitizer (make tsan) the
// same run shows whether the line's thread and the window's thread share the
// register image, the slaves and the traffic without a race.
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <optional>
#include <poll.h>
#include <random>
#include <thread>
#include <unistd.h>

#include "engine/crc16.h"
#include "engine/faultplan.h"
#include "monitor/monitorform.h"
#include "registers/registersform.h"
#include "serial/ui/configunit.h"
#include "slaves/slavecommands.h"
#include "tests/ui/uitesthelpers.h"
#include "ui/askunit.h"
#include "ui/mainunit.h"
#include "ui/panelcontrols.h"

using namespace quorlin;
using namespace quorlin::testing;

namespace
{

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr uint8_t Slave = 1;         // the only slave the master talks to
constexpr uint8_t NoSuchSlave = 200; // never on the line
constexpr int SecondSlave = 9;       // comes and goes; the faults aim at it
// Registers of slave 1 that only the master writes (zero-based addresses).
constexpr int OwnRegister = 100, OwnRegisters = 64; // holding registers 101..164
constexpr int OwnCoil = 1000, OwnCoils = 64;        // coils 1001..1064
// Holding registers 21..24 carry the test library's "Calls" with bases 1000,
// 2000, 3000 and 4000: every tick moves all four by one, together.
constexpr int ScriptRegister = 21, ScriptBindings = 4, ScriptBase = 1000;
constexpr int DialogRegister = 1;  // input register 1: the value dialog's, rising
constexpr int QuietRegister = 200; // input registers 201..210: nobody writes them

const milliseconds ReplyTimeout(1500);
const milliseconds Silence(30); // how long an unanswered frame is listened after

Bytes withCrc(Bytes Frame)
{
    const uint16_t crc = Crc16(Frame.data(), Frame.size());
    Frame.push_back(uint8_t(crc & 0xFF));
    Frame.push_back(uint8_t(crc >> 8));
    return Frame;
}

std::string hex(const Bytes &Frame)
{
    std::string s;
    char b[4];
    for (uint8_t c : Frame) {
        std::snprintf(b, sizeof b, "%02X ", c);
        s += b;
    }
    return s;
}

// The values a register the master alone writes may hold: one once a reply
// confirmed it, more while a request whose fate nobody told (a time-out, a
// broadcast the slave may refuse) could have changed it. A read settles it.
struct Candidates {
    std::vector<uint16_t> Values{0};
    bool accepts(uint16_t V) const
    {
        return std::find(Values.begin(), Values.end(), V) != Values.end();
    }
    void set(uint16_t V) { Values = {V}; }
    void mayBe(uint16_t V)
    {
        if (!accepts(V))
            Values.push_back(V);
    }
};

// A Modbus RTU master of its own making on the far end of the pty.
class LineMaster
{
  public:
    LineMaster(int Fd, uint32_t Seed) : m_fd(Fd), m_random(Seed) {}

    void run(milliseconds For)
    {
        const auto end = Clock::now() + For;
        while (Clock::now() < end && Wrong.size() < 10)
            step();
    }

    int Answered = 0, TimedOut = 0, Unanswered = 0;
    std::vector<std::string> Wrong;
    uint16_t ScriptSeen = 0; // the first script register, as last read
    uint16_t DialogSeen = 0;
    std::array<Candidates, OwnRegisters> Registers;
    std::array<Candidates, OwnCoils> Coils;

  private:
    int pick(int From, int To) { return std::uniform_int_distribution<int>(From, To)(m_random); }

    void wrong(const std::string &What, const Bytes &Request, const Bytes &Reply)
    {
        Wrong.push_back(What + ": request " + hex(Request) + "-> reply " + hex(Reply));
    }

    // Reads until Count bytes came or the time-out passed.
    Bytes receive(size_t Count, milliseconds Timeout)
    {
        Bytes got;
        const auto deadline = Clock::now() + Timeout;
        while (got.size() < Count) {
            const auto left =
                std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, int(left)) <= 0)
                continue;
            uint8_t buf[300];
            const ssize_t n = ::read(m_fd, buf, std::min(sizeof buf, Count - got.size()));
            if (n <= 0)
                break;
            got.insert(got.end(), buf, buf + n);
        }
        return got;
    }

    void send(const Bytes &Frame)
    {
        size_t done = 0;
        while (done < Frame.size()) {
            const ssize_t n = ::write(m_fd, Frame.data() + done, Frame.size() - done);
            if (n <= 0)
                return;
            done += size_t(n);
        }
    }

    // Sends Request and waits for ReplyLength bytes; nullopt on a time-out,
    // after which whatever still comes is let pass before the next request.
    std::optional<Bytes> exchange(const Bytes &Request, size_t ReplyLength)
    {
        send(Request);
        Bytes reply = receive(ReplyLength, ReplyTimeout);
        if (reply.size() == ReplyLength) {
            ++Answered;
            return reply;
        }
        if (!reply.empty()) {
            wrong("short or missing reply", Request, reply);
            return std::nullopt;
        }
        ++TimedOut;
        while (!receive(1, milliseconds(200)).empty()) {
        }
        return std::nullopt;
    }

    // A frame nobody may answer; the line must stay quiet.
    void unanswered(const Bytes &Frame)
    {
        send(Frame);
        ++Unanswered;
        const Bytes stray = receive(1, Silence);
        if (!stray.empty()) {
            Bytes all = stray;
            const Bytes more = receive(300, Silence);
            all.insert(all.end(), more.begin(), more.end());
            wrong("answered a frame that needs no answer", Frame, all);
        }
    }

    void step()
    {
        switch (pick(0, 12)) {
        case 0:
            return readRegisters();
        case 1:
            return readCoils();
        case 2:
            return readQuietInputs();
        case 3:
            return readDialogRegister();
        case 4:
            return readScriptRegisters();
        case 5:
            return writeCoil();
        case 6:
        case 7:
            return writeRegisters(pick(0, 1) == 0);
        case 8:
            return writeCoils();
        case 9:
            return readPastTheEnd();
        case 10:
            return otherSlaveWrite();
        case 11:
            return badCrcWrite();
        default:
            return broadcastWrite();
        }
    }

    static Bytes header(uint8_t Id, uint8_t Function, int Address, int Count)
    {
        return {Id,
                Function,
                uint8_t(Address >> 8),
                uint8_t(Address),
                uint8_t(Count >> 8),
                uint8_t(Count)};
    }

    void readRegisters()
    {
        const int first = pick(0, OwnRegisters - 1), count = pick(1, OwnRegisters - first);
        const Bytes request = withCrc(header(Slave, 3, OwnRegister + first, count));
        const auto reply = exchange(request, size_t(5 + 2 * count));
        if (!reply)
            return;
        Bytes want{Slave, 3, uint8_t(2 * count)};
        for (int i = 0; i < count; ++i) {
            const size_t at = 3 + 2 * size_t(i);
            const uint16_t v = uint16_t((*reply)[at] << 8 | (*reply)[at + 1]);
            Candidates &c = Registers[size_t(first + i)];
            if (!c.accepts(v))
                return wrong("holding register " + std::to_string(OwnRegister + first + i + 1) +
                                 " holds a value nobody wrote",
                             request, *reply);
            c.set(v);
            want.push_back(uint8_t(v >> 8));
            want.push_back(uint8_t(v));
        }
        if (withCrc(want) != *reply)
            wrong("read reply", request, *reply);
    }

    void readCoils()
    {
        const int first = pick(0, OwnCoils - 1), count = pick(1, OwnCoils - first);
        const Bytes request = withCrc(header(Slave, 1, OwnCoil + first, count));
        const size_t bytes = size_t(count + 7) / 8;
        const auto reply = exchange(request, 5 + bytes);
        if (!reply)
            return;
        Bytes want{Slave, 1, uint8_t(bytes)};
        want.resize(3 + bytes);
        for (int i = 0; i < count; ++i) {
            const uint8_t bit = ((*reply)[3 + size_t(i / 8)] >> (i % 8)) & 1;
            Candidates &c = Coils[size_t(first + i)];
            if (!c.accepts(bit))
                return wrong("coil " + std::to_string(OwnCoil + first + i + 1) +
                                 " holds a state nobody wrote",
                             request, *reply);
            c.set(bit);
            want[3 + size_t(i / 8)] |= uint8_t(bit << (i % 8));
        }
        if (withCrc(want) != *reply)
            wrong("coil read reply", request, *reply);
    }

    void readQuietInputs()
    {
        const int count = pick(1, 10);
        const Bytes request = withCrc(header(Slave, 4, QuietRegister, count));
        const auto reply = exchange(request, size_t(5 + 2 * count));
        Bytes want{Slave, 4, uint8_t(2 * count)};
        want.resize(want.size() + 2 * size_t(count));
        if (reply && withCrc(want) != *reply)
            wrong("input registers nobody writes", request, *reply);
    }

    void readDialogRegister()
    {
        const Bytes request = withCrc(header(Slave, 4, DialogRegister - 1, 1));
        const auto reply = exchange(request, 7);
        if (!reply)
            return;
        const uint16_t v = uint16_t((*reply)[3] << 8 | (*reply)[4]);
        // The dialog only ever enters larger numbers.
        if (withCrc({Slave, 4, 2, uint8_t(v >> 8), uint8_t(v)}) != *reply || v < DialogSeen)
            return wrong("input register 1 went back from " + std::to_string(DialogSeen), request,
                         *reply);
        DialogSeen = v;
    }

    void readScriptRegisters()
    {
        const Bytes request = withCrc(header(Slave, 3, ScriptRegister - 1, ScriptBindings));
        const auto reply = exchange(request, 5 + 2 * ScriptBindings);
        if (!reply)
            return;
        uint16_t v[ScriptBindings];
        Bytes want{Slave, 3, 2 * ScriptBindings};
        for (int i = 0; i < ScriptBindings; ++i) {
            v[i] = uint16_t((*reply)[3 + 2 * size_t(i)] << 8 | (*reply)[4 + 2 * size_t(i)]);
            want.push_back(uint8_t(v[i] >> 8));
            want.push_back(uint8_t(v[i]));
        }
        // One tick's results land together: never some registers of a tick
        // and some of the one before.
        bool together = true;
        for (int i = 1; i < ScriptBindings; ++i)
            together = together && v[i] == (v[0] == 0 ? 0 : v[0] + i * ScriptBase);
        if (withCrc(want) != *reply || !together || v[0] < ScriptSeen)
            return wrong("script registers torn or going back", request, *reply);
        ScriptSeen = v[0];
    }

    void writeCoil()
    {
        const int i = pick(0, OwnCoils - 1);
        const uint8_t on = uint8_t(pick(0, 1));
        const Bytes request = withCrc({Slave, 5, uint8_t((OwnCoil + i) >> 8), uint8_t(OwnCoil + i),
                                       uint8_t(on ? 0xFF : 0), 0});
        const auto reply = exchange(request, request.size());
        if (reply && *reply != request)
            return wrong("single coil echo", request, *reply);
        if (reply)
            Coils[size_t(i)].set(on);
        else
            Coils[size_t(i)].mayBe(on);
    }

    Bytes registersFrame(uint8_t Id, int First, const std::vector<uint16_t> &Values, bool Single)
    {
        if (Single)
            return withCrc({Id, 6, uint8_t((OwnRegister + First) >> 8),
                            uint8_t(OwnRegister + First), uint8_t(Values[0] >> 8),
                            uint8_t(Values[0])});
        Bytes frame = header(Id, 16, OwnRegister + First, int(Values.size()));
        frame.push_back(uint8_t(2 * Values.size()));
        for (uint16_t v : Values) {
            frame.push_back(uint8_t(v >> 8));
            frame.push_back(uint8_t(v));
        }
        return withCrc(frame);
    }

    std::vector<uint16_t> someValues(int Count)
    {
        std::vector<uint16_t> values;
        for (int i = 0; i < Count; ++i)
            values.push_back(uint16_t(pick(0, 65535)));
        return values;
    }

    void writeRegisters(bool Single)
    {
        const int first = pick(0, OwnRegisters - 1);
        const auto values = someValues(Single ? 1 : pick(1, std::min(20, OwnRegisters - first)));
        const Bytes request = registersFrame(Slave, first, values, Single);
        const Bytes echo =
            Single ? request : withCrc(header(Slave, 16, OwnRegister + first, int(values.size())));
        const auto reply = exchange(request, echo.size());
        if (reply && *reply != echo)
            return wrong("register write reply", request, *reply);
        for (size_t i = 0; i < values.size(); ++i) {
            if (reply)
                Registers[size_t(first) + i].set(values[i]);
            else
                Registers[size_t(first) + i].mayBe(values[i]);
        }
    }

    void writeCoils()
    {
        const int first = pick(0, OwnCoils - 1), count = pick(1, OwnCoils - first);
        Bytes frame = header(Slave, 15, OwnCoil + first, count);
        const size_t bytes = size_t(count + 7) / 8;
        frame.push_back(uint8_t(bytes));
        std::vector<uint8_t> bits;
        for (size_t b = 0; b < bytes; ++b)
            frame.push_back(0);
        for (int i = 0; i < count; ++i) {
            bits.push_back(uint8_t(pick(0, 1)));
            frame[7 + size_t(i / 8)] |= uint8_t(bits.back() << (i % 8));
        }
        const Bytes request = withCrc(frame);
        const Bytes echo = withCrc(header(Slave, 15, OwnCoil + first, count));
        const auto reply = exchange(request, echo.size());
        if (reply && *reply != echo)
            return wrong("multiple coils reply", request, *reply);
        for (int i = 0; i < count; ++i) {
            if (reply)
                Coils[size_t(first + i)].set(bits[size_t(i)]);
            else
                Coils[size_t(first + i)].mayBe(bits[size_t(i)]);
        }
    }

    void readPastTheEnd()
    {
        const Bytes request = withCrc(header(Slave, 3, 256, 1));
        const auto reply = exchange(request, 5);
        if (reply && *reply != withCrc({Slave, 0x83, 2}))
            wrong("exception 2", request, *reply);
    }

    // Writes that must change nothing: for another slave, or with a broken CRC.
    void otherSlaveWrite()
    {
        unanswered(registersFrame(NoSuchSlave, pick(0, OwnRegisters - 1), someValues(1), true));
    }
    void badCrcWrite()
    {
        Bytes frame = registersFrame(Slave, pick(0, OwnRegisters - 1), someValues(1), true);
        frame.back() ^= 0x5A;
        unanswered(frame);
    }

    // Applied or not as the window's switch stands at that moment.
    void broadcastWrite()
    {
        const int first = pick(0, OwnRegisters - 4);
        const auto values = someValues(pick(1, 4));
        unanswered(registersFrame(0, first, values, values.size() == 1));
        for (size_t i = 0; i < values.size(); ++i)
            Registers[size_t(first) + i].mayBe(values[i]);
    }

    int m_fd;
    std::mt19937 m_random;
};

// The window's thread serves its event loop for Ms: the watcher's hand-over
// and the timers run as in the program.
void serve(int Ms)
{
    QEventLoop loop;
    QTimer::singleShot(Ms, &loop, &QEventLoop::quit);
    loop.exec();
}

class LineThreadTest : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_dir.ok());
        // The test library's scripts, as the program's own scripts.dll.
        ASSERT_TRUE(QFile::copy(QStringLiteral(QUORLIN_TEST_SCRIPTS),
                                QDir(m_dir.path()).filePath(QStringLiteral("scripts.dll"))));
        m_form = std::make_unique<TMainForm>(nullptr, m_dir.path());
        m_form->CreateDialogs();
        m_form->show();
        TSlavePrompts prompts;
        prompts.askId = [](QWidget *, int) -> std::optional<int> { return SecondSlave; };
        prompts.confirm = [](QWidget *, const QString &) { return true; };
        prompts.warn = [](QWidget *, const QString &) {};
        m_form->SlaveCommands().setPrompts(prompts);
        for (int i = 0; i < ScriptBindings; ++i)
            m_form->BindingList().push_back(MakeBinding(m_form->ScriptList(), "Calls",
                                                        RegTypeHoldingReg, ScriptRegister + i,
                                                        ScriptBase * (i + 1), 0, 0));
        ASSERT_NE(m_form->BindingList().front().Entry, nullptr) << "the test library's Calls";
    }
    void TearDown() override { m_form.reset(); }

    // One of the things a user or the program does on the window's thread.
    void windowStep(int Step)
    {
        switch (Step % 9) {
        case 0:
            m_form->Tick();
            break;
        case 1: {
            // The value dialog on input register 1, always a larger number.
            const QString value = QString::number(++m_dialogValue);
            onNextModal<TAskForm>([value](TAskForm *Dialog) {
                Dialog->Edit1->setText(value);
                Dialog->Button1->click();
            });
            m_form->Edit1Click(m_form->Edits[0]);
            break;
        }
        case 2:
            if (m_form->Slaves().Find(SecondSlave) == nullptr) {
                m_form->SlaveCommands().AddSlave();
                TScriptBinding b = MakeBinding(m_form->ScriptList(), "Calls", RegTypeHoldingReg,
                                               ScriptRegister, 7, 0, 0);
                b.SlaveId = SecondSlave;
                m_form->BindingList().push_back(b);
            } else {
                m_form->SlaveCommands().RemoveSlave(SecondSlave);
            }
            break;
        case 3:
            m_form->AcceptBroadcast1->trigger();
            break;
        case 4: {
            TFaultSettings faults;
            faults.Enabled = (Step / 9) % 2;
            faults.MBid = SecondSlave;
            faults.ExceptionEvery = 2;
            faults.NoReplyEvery = 3;
            faults.DelayMs = 20;
            m_form->ApplyFaults(NormalisedFaults(faults));
            break;
        }
        case 5:
            m_form->TrafficMonitor1Click();
            m_form->TrafficTick();
            break;
        case 6:
            m_form->Registers1Click();
            m_form->Tick();
            if ((Step / 9) % 3 == 2)
                m_form->RegistersForm()->close();
            break;
        case 7: {
            // The line's settings applied again on the open port.
            QComboBox *speed = m_form->ConfForm->ComboBox2;
            speed->setCurrentIndex(speed->currentIndex() == 5 ? 6 : 5);
            m_form->ApplySerialSettings();
            break;
        }
        default:
            m_form->SelectSlave((Step / 9) % 2 ? SecondSlave : Slave);
            if (m_form->MonitorForm && (Step / 9) % 2)
                m_form->MonitorForm->close();
            break;
        }
    }

    ProgramDir m_dir;
    std::unique_ptr<TMainForm> m_form;
    int m_dialogValue = 0;
};

TEST_F(LineThreadTest, MasterGetsRightAnswersWhileTheWindowWorks)
{
    LineMaster master(m_dir.com2().master(), 20261209);
    std::atomic<bool> done{false};
    std::thread line([&] {
        master.run(milliseconds(3500));
        done = true;
    });
    int steps = 0;
    while (!done) {
        windowStep(steps++);
        serve(2);
    }
    line.join();

    for (const std::string &w : master.Wrong)
        ADD_FAILURE() << w;
    // Under the sanitizer everything runs slower; the count stays modest.
    EXPECT_GE(master.Answered, 30) << "timed out: " << master.TimedOut;
    EXPECT_GT(master.ScriptSeen, ScriptBase) << "the tick's script values reached the master";
    EXPECT_GT(master.DialogSeen, 0) << "the dialog's values reached the master";
    EXPECT_GT(steps, 50);

    // What the image holds in the end is what the master may have left there.
    m_form->Tick();
    TRegisterImage &first = m_form->Slaves().First();
    for (int i = 0; i < OwnRegisters; ++i)
        EXPECT_TRUE(
            master.Registers[size_t(i)].accepts(first.HoldingRegs[size_t(OwnRegister + i + 1)]))
            << "holding register " << OwnRegister + i + 1;
    for (int i = 0; i < OwnCoils; ++i)
        EXPECT_TRUE(master.Coils[size_t(i)].accepts(first.Coils[size_t(OwnCoil + i + 1)]))
            << "coil " << OwnCoil + i + 1;
    std::printf("line thread: %d answered, %d timed out, %d unanswered frames, %d window steps\n",
                master.Answered, master.TimedOut, master.Unanswered, steps);
}

} // namespace
