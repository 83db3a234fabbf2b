// SPDX-License-Identifier: MIT
#include "platform/portaccess.h"

#include <cerrno>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace quorlin
{

bool IsPermissionError(int Code)
{
    return Code == EACCES || Code == EPERM;
}

std::string DeviceGroup(const std::string &Path)
{
    struct stat st {
    };
    if (::stat(Path.c_str(), &st) != 0 || st.st_gid == 0)
        return "dialout";
    long size = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? size_t(size) : 16384);
    struct group gr {
    };
    struct group *found = nullptr;
    // A large group's member list may not fit: grow the buffer a few times.
    int rc = 0;
    while ((rc = ::getgrgid_r(st.st_gid, &gr, buffer.data(), buffer.size(), &found)) == ERANGE &&
           buffer.size() < (1u << 22))
        buffer.resize(buffer.size() * 4);
    if (rc != 0 || !found || !found->gr_name || !*found->gr_name)
        return "dialout";
    return found->gr_name;
}

std::string PermissionAdvice(const std::string &Group)
{
    const std::string group = Group.empty() || Group == "root" ? "dialout" : Group;
    return "join the group " + group + " (sudo adduser $USER " + group +
           "), then log out and log in again";
}

} // namespace quorlin
