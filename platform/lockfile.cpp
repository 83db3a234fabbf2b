// SPDX-License-Identifier: MIT
#include "platform/lockfile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace quorlin
{

namespace
{

std::string readSmallFile(const std::string &Path, bool &Exists)
{
    Exists = false;
    int fd = -1;
    do
        fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        Exists = errno != ENOENT && errno != ENOTDIR;
        return {};
    }
    Exists = true;
    char buf[64];
    long n = -1;
    do
        n = ::read(fd, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    return n > 0 ? std::string(buf, size_t(n)) : std::string();
}

bool processAlive(long Pid)
{
    return Pid > 0 && Pid <= INT_MAX && (::kill(pid_t(Pid), 0) == 0 || errno == EPERM);
}

bool isDirectory(const std::string &Path)
{
    struct stat st {
    };
    return ::stat(Path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TSysError busy(const std::string &Device, long Pid, const std::string &LockPath)
{
    TSysError e;
    e.Code = EBUSY;
    e.Detail = "in use by process " + std::to_string(Pid) + " (lock file " + LockPath + ")";
    e.Message = "cannot open " + Device + ": " + e.Detail;
    return e;
}

// Writes the lock under a private name and links it into place, so no other
// program ever reads a half-written lock; false when the name is taken.
// Errno tells the other failures.
bool createLock(const std::string &Dir, const std::string &LockPath, bool &Taken)
{
    Taken = false;
    const std::string tmp = Dir + "/.quorlin-lock." + std::to_string(::getpid());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return false;
    const std::string text = LockFileContent(::getpid());
    const bool written = ::write(fd, text.data(), text.size()) == long(text.size());
    ::fchmod(fd, 0644); // readable by everyone whatever the umask
    ::close(fd);
    bool linked = written && ::link(tmp.c_str(), LockPath.c_str()) == 0;
    const int linkErrno = errno;
    ::unlink(tmp.c_str());
    Taken = !linked && written && linkErrno == EEXIST;
    errno = linkErrno;
    return linked;
}

} // namespace

std::string LockFileName(const std::string &DevicePath)
{
    std::string path = DevicePath;
    if (char *real = ::realpath(DevicePath.c_str(), nullptr)) {
        path = real;
        std::free(real);
    }
    const size_t slash = path.find_last_of('/');
    return "LCK.." + (slash == std::string::npos ? path : path.substr(slash + 1));
}

long ParseLockPid(std::string_view Content)
{
    const bool text = std::all_of(Content.begin(), Content.end(), [](char c) {
        return c == '\n' || c == '\r' || c == '\t' || (c >= ' ' && c <= '~');
    });
    if (Content.size() == 4 && !text) { // binary form, this machine's byte order
        int32_t binary = 0;
        std::memcpy(&binary, Content.data(), 4);
        return binary > 0 ? binary : 0;
    }
    size_t i = 0;
    while (i < Content.size() && (Content[i] == ' ' || Content[i] == '\t'))
        ++i;
    long pid = 0;
    size_t digits = 0;
    for (; i < Content.size() && Content[i] >= '0' && Content[i] <= '9'; ++i, ++digits) {
        if (digits == 10)
            return 0; // no PID is that long
        pid = pid * 10 + (Content[i] - '0');
    }
    if (digits > 0) {
        const bool ended = i == Content.size() || Content[i] == '\n' || Content[i] == ' ' ||
                           Content[i] == '\r' || Content[i] == '\0';
        return ended && pid <= INT_MAX ? pid : 0;
    }
    return 0;
}

std::string LockFileContent(long Pid)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%10ld\n", Pid);
    return buf;
}

std::vector<std::string> TDeviceLock::DefaultDirs()
{
    return {"/run/lock", "/var/lock"};
}

TSysError TDeviceLock::Acquire(const std::string &DevicePath, const std::vector<std::string> &Dirs)
{
    Release();
    const std::string name = LockFileName(DevicePath);
    const long self = ::getpid();
    std::string createIn;
    bool ours = false;
    for (const auto &dir : Dirs) {
        if (!isDirectory(dir))
            continue;
        const std::string lock = dir + "/" + name;
        bool exists = false;
        const long pid = ParseLockPid(readSmallFile(lock, exists));
        if (exists && pid == self)
            ours = true; // another port of this program: the exclusive open decides
        else if (exists && processAlive(pid))
            return busy(DevicePath, pid, lock);
        else if (exists)
            ::unlink(lock.c_str()); // stale; fails quietly where we may not write
        if (createIn.empty() && ::access(dir.c_str(), W_OK) == 0)
            createIn = dir;
    }
    if (ours || createIn.empty())
        return {};
    const std::string lock = createIn + "/" + name;
    // Two tries: a program that held the name between our look and our link
    // may have been a stale one that is gone by now.
    for (int attempt = 0; attempt < 2; ++attempt) {
        bool taken = false;
        if (createLock(createIn, lock, taken)) {
            m_path = lock;
            return {};
        }
        if (!taken)
            return {}; // the folder refuses us: go on without a lock file
        bool exists = false;
        const long pid = ParseLockPid(readSmallFile(lock, exists));
        if (exists && pid != self && processAlive(pid))
            return busy(DevicePath, pid, lock);
        if (exists && pid == self)
            return {};
        ::unlink(lock.c_str());
    }
    return {};
}

void TDeviceLock::Release()
{
    if (m_path.empty())
        return;
    bool exists = false;
    if (ParseLockPid(readSmallFile(m_path, exists)) == ::getpid())
        ::unlink(m_path.c_str());
    m_path.clear();
}

} // namespace quorlin
