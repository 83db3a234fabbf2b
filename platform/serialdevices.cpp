// SPDX-License-Identifier: MIT
#include "platform/serialdevices.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

namespace quorlin
{

namespace
{

std::vector<std::string> entries(const std::string &Dir)
{
    std::vector<std::string> names;
    DIR *d = ::opendir(Dir.c_str());
    if (!d)
        return names;
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    ::closedir(d);
    return names;
}

bool isCharDevice(const std::string &Path)
{
    struct stat st {
    };
    return ::stat(Path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// "ttyUSB12" with prefix "ttyUSB" gives 12; -1 when the rest is no number.
long numberAfter(const std::string &Name, const std::string &Prefix)
{
    if (Name.size() <= Prefix.size() || Name.compare(0, Prefix.size(), Prefix) != 0 ||
        Name.size() - Prefix.size() > 6)
        return -1;
    long n = 0;
    for (size_t i = Prefix.size(); i < Name.size(); ++i) {
        if (Name[i] < '0' || Name[i] > '9')
            return -1;
        n = n * 10 + (Name[i] - '0');
    }
    return n;
}

bool uartByIoctl(const std::string &Path)
{
    int fd = -1;
    do
        fd = ::open(Path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;
    serial_struct info{};
    const bool uart = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return uart;
}

// sysfs gives the UART type without opening the port (which would raise its
// modem lines); -1 when it does not say.
int sysfsUartType(const std::string &Root, const std::string &Name)
{
    std::ifstream in(Root + "/sys/class/tty/" + Name + "/type");
    int type = -1;
    if (!(in >> type))
        return -1;
    return type;
}

} // namespace

std::vector<std::string> EnumerateSerialDevices(const TDeviceTree &Tree)
{
    std::vector<std::string> out;
    const std::string dev = Tree.Root + "/dev";

    std::vector<std::string> byId = entries(dev + "/serial/by-id");
    std::sort(byId.begin(), byId.end());
    for (const auto &name : byId)
        if (isCharDevice(dev + "/serial/by-id/" + name)) // a link to a device that is there
            out.push_back("/dev/serial/by-id/" + name);

    std::vector<std::string> names = entries(dev);
    std::sort(names.begin(), names.end());
    for (const char *prefix : {"ttyUSB", "ttyACM", "ttyAMA", "ttyS"}) {
        std::vector<std::pair<long, std::string>> found;
        for (const auto &name : names) {
            const long n = numberAfter(name, prefix);
            if (n < 0 || !isCharDevice(dev + "/" + name))
                continue;
            if (std::string(prefix) == "ttyS") {
                // Most ttyS nodes are placeholders without hardware.
                const int type = sysfsUartType(Tree.Root, name);
                const bool uart = type >= 0      ? type != PORT_UNKNOWN
                                  : Tree.HasUart ? Tree.HasUart("/dev/" + name)
                                                 : uartByIoctl(dev + "/" + name);
                if (!uart)
                    continue;
            }
            found.emplace_back(n, "/dev/" + name);
        }
        std::sort(found.begin(), found.end());
        for (auto &f : found)
            out.push_back(std::move(f.second));
    }
    return out;
}

} // namespace quorlin
