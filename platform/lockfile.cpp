// SPDX-License-Identifier: MIT
#include "platform/lockfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <time.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace quorlin
{

namespace
{

// What a lock file held when it was read, and which file it was.
struct TLockLook {
    bool Exists = false;
    long Pid = 0;
    bool Complete = false; // a PID, and in text form the newline that ends it
    dev_t Dev = 0;
    ino_t Ino = 0;
    double AgeSeconds = 0; // since its last change
};

TLockLook lookAt(const std::string &Path)
{
    TLockLook look;
    int fd = -1;
    do
        fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        look.Exists = errno != ENOENT && errno != ENOTDIR;
        return look;
    }
    look.Exists = true;
    struct stat st {
    };
    if (::fstat(fd, &st) == 0) {
        look.Dev = st.st_dev;
        look.Ino = st.st_ino;
        struct timespec now {
        };
        ::clock_gettime(CLOCK_REALTIME, &now);
        look.AgeSeconds = double(now.tv_sec - st.st_mtim.tv_sec) +
                          double(now.tv_nsec - st.st_mtim.tv_nsec) / 1e9;
    }
    char buf[64];
    long n = -1;
    do
        n = ::read(fd, buf, sizeof buf);
    while (n < 0 && errno == EINTR);
    ::close(fd);
    const std::string_view content(buf, n > 0 ? size_t(n) : 0);
    look.Pid = ParseLockPid(content);
    look.Complete = look.Pid > 0 && (content.size() == 4 || content.back() == '\n');
    return look;
}

// A program that writes its lock in place (no private name and link) may be
// caught half-way: an empty file, or digits without their newline. Such a
// file gets a moment to be finished before it is judged.
constexpr double LockWriteGraceSeconds = 1.0;

TLockLook settledLook(const std::string &Path)
{
    TLockLook look = lookAt(Path);
    for (int i = 0; i < 40 && look.Exists && !look.Complete && look.AgeSeconds >= 0 &&
                    look.AgeSeconds < LockWriteGraceSeconds;
         ++i) {
        ::usleep(50 * 1000);
        look = lookAt(Path);
    }
    return look;
}

bool processAlive(long Pid)
{
    return Pid > 0 && Pid <= INT_MAX && (::kill(pid_t(Pid), 0) == 0 || errno == EPERM);
}

bool isStale(const TLockLook &Look)
{
    return Look.Exists && Look.Pid != ::getpid() && !processAlive(Look.Pid);
}

// Holds an exclusive flock on the lock folder while a stale lock is checked
// again and removed, so that two programs of ours never both remove one:
// the second would delete the lock the first had just made. Where the folder
// cannot be locked, the check right before the unlink still narrows the gap.
class TFolderGuard
{
  public:
    explicit TFolderGuard(const std::string &Dir)
        : m_fd(::open(Dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC))
    {
        if (m_fd < 0)
            return;
        // Bounded: a folder lock held elsewhere for long is not waited out.
        for (int i = 0; i < 100; ++i) {
            if (::flock(m_fd, LOCK_EX | LOCK_NB) == 0)
                return;
            if (errno != EWOULDBLOCK && errno != EINTR)
                return;
            ::usleep(10 * 1000);
        }
    }
    ~TFolderGuard()
    {
        if (m_fd >= 0)
            ::close(m_fd); // drops the flock
    }
    TFolderGuard(const TFolderGuard &) = delete;
    TFolderGuard &operator=(const TFolderGuard &) = delete;

  private:
    int m_fd;
};

// Removes the lock at Path only if it is still the file Seen was read from
// and still stale. False when it was left (replaced, or its owner alive).
bool removeIfStillStale(const std::string &Dir, const std::string &Path, const TLockLook &Seen)
{
    TFolderGuard guard(Dir);
    const TLockLook now = lookAt(Path);
    if (!now.Exists)
        return true;
    if (now.Dev != Seen.Dev || now.Ino != Seen.Ino || !isStale(now))
        return false;
    // Fails quietly where we may not write; the link that follows then fails too.
    ::unlink(Path.c_str());
    return true;
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
        const TLockLook look = settledLook(lock);
        if (look.Exists && look.Pid == self)
            ours = true; // another port of this program: the exclusive open decides
        else if (look.Exists && processAlive(look.Pid))
            return busy(DevicePath, look.Pid, lock);
        else if (look.Exists && !removeIfStillStale(dir, lock, look)) {
            // Replaced meanwhile: judge the new one.
            const TLockLook again = settledLook(lock);
            if (again.Exists && again.Pid != self && processAlive(again.Pid))
                return busy(DevicePath, again.Pid, lock);
        }
        if (createIn.empty() && ::access(dir.c_str(), W_OK) == 0)
            createIn = dir;
    }
    if (ours || createIn.empty())
        return {};
    const std::string lock = createIn + "/" + name;
    // A few tries: the name may be held by a stale lock that is gone, or
    // removed, by the time we look again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        bool taken = false;
        if (createLock(createIn, lock, taken)) {
            m_path = lock;
            return {};
        }
        if (!taken)
            return {}; // the folder refuses us: go on without a lock file
        const TLockLook look = settledLook(lock);
        if (look.Exists && look.Pid == self)
            return {};
        if (look.Exists && processAlive(look.Pid))
            return busy(DevicePath, look.Pid, lock);
        if (look.Exists)
            removeIfStillStale(createIn, lock, look);
    }
    const TLockLook last = lookAt(lock);
    if (last.Exists && last.Pid != self && processAlive(last.Pid))
        return busy(DevicePath, last.Pid, lock);
    return {};
}

void TDeviceLock::Release()
{
    if (m_path.empty())
        return;
    if (lookAt(m_path).Pid == ::getpid())
        ::unlink(m_path.c_str());
    m_path.clear();
}

} // namespace quorlin
