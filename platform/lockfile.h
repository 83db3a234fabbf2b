// SPDX-License-Identifier: MIT
// The customary lock files of serial devices: "LCK..<device name>" in
// /run/lock (or /var/lock), holding the owner's PID as ten right-aligned
// ASCII characters and a newline. Programs that neither TIOCEXCL nor flock
// their device (terminal programs, some serial libraries) still honour these.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/posixserial.h"

namespace quorlin
{

// "LCK.." + the base name of the device the path leads to (links followed),
// so a /dev/serial/by-id link and its /dev/ttyUSB0 share one lock.
std::string LockFileName(const std::string &DevicePath);

// The PID a lock file holds: ASCII digits after optional blanks, ended by a
// newline, a blank or the end; or the four-byte binary form of old programs.
// 0 when the content holds no PID.
long ParseLockPid(std::string_view Content);

// The ten right-aligned digits and the newline.
std::string LockFileContent(long Pid);

class TDeviceLock
{
  public:
    // The folders looked in, first writable one used for a new lock.
    static std::vector<std::string> DefaultDirs();

    TDeviceLock() = default;
    ~TDeviceLock() { Release(); }
    TDeviceLock(const TDeviceLock &) = delete;
    TDeviceLock &operator=(const TDeviceLock &) = delete;

    // Fails with EBUSY when a lock file of a running process other than this
    // one names the device. A lock whose process is gone is stale and
    // removed. Where no folder may be written, an existing lock is still
    // honoured and nothing is created.
    TSysError Acquire(const std::string &DevicePath, const std::vector<std::string> &Dirs);
    // Removes the lock file this object created, if it still holds our PID.
    void Release();
    const std::string &Path() const { return m_path; } // empty unless created

  private:
    std::string m_path;
};

} // namespace quorlin
