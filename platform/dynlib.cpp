// SPDX-License-Identifier: MIT
#include "platform/dynlib.h"

#include <dlfcn.h>
#include <link.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>
#include <vector>

namespace quorlin
{

namespace
{

bool isFile(const std::string &path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

std::string joinPath(const std::string &dir, const std::string &name)
{
    if (dir.empty())
        return name;
    return dir.back() == '/' ? dir + name : dir + '/' + name;
}

// programDir/fileName when fileName is a bare name and that file exists, else "".
// A path in fileName makes dlopen take that file, so programDir does not apply.
std::string inProgramDir(const std::string &fileName, const std::string &programDir)
{
    if (programDir.empty() || fileName.find('/') != std::string::npos)
        return {};
    std::string local = joinPath(programDir, fileName);
    return isFile(local) ? local : std::string();
}

std::string lastDlError()
{
    const char *text = ::dlerror();
    return text ? std::string(text) : std::string("unknown error");
}

} // namespace

DynamicLibrary::~DynamicLibrary()
{
    close();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary &&other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_path(std::move(other.m_path)),
      m_error(std::move(other.m_error))
{
}

DynamicLibrary &DynamicLibrary::operator=(DynamicLibrary &&other) noexcept
{
    if (this != &other) {
        close();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_path = std::move(other.m_path);
        m_error = std::move(other.m_error);
    }
    return *this;
}

bool DynamicLibrary::load(const std::string &fileName, const std::string &programDir)
{
    close();
    m_error.clear();
    if (fileName.empty()) {
        m_error = "cannot open library: empty file name";
        return false;
    }
    // The copy beside the program when there is one; otherwise a bare name
    // makes dlopen search and a path makes it take that file.
    const std::string local = inProgramDir(fileName, programDir);
    m_path = local.empty() ? fileName : local;
    ::dlerror();
    m_handle = ::dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        // dlerror names the file itself ("scripts.dll: cannot open shared
        // object file: ..."); say it once.
        std::string reason = lastDlError();
        if (reason.compare(0, m_path.size() + 2, m_path + ": ") == 0)
            reason.erase(0, m_path.size() + 2);
        m_error = "cannot open " + m_path + ": " + reason;
        return false;
    }
    return true;
}

void DynamicLibrary::close()
{
    if (m_handle) {
        ::dlclose(m_handle);
        m_handle = nullptr;
    }
    m_path.clear();
}

void *DynamicLibrary::symbol(const std::string &name) const
{
    if (!m_handle || name.empty())
        return nullptr;
    return ::dlsym(m_handle, name.c_str());
}

void *DynamicLibrary::ownFunction(const std::string &name) const
{
    void *address = symbol(name);
    if (!address)
        return nullptr;
    struct link_map *own = nullptr;
    if (::dlinfo(m_handle, RTLD_DI_LINKMAP, &own) != 0 || !own)
        return nullptr;
    // The object that holds the address must be this library, and the
    // symbol there a function that starts at that address.
    Dl_info info{};
    struct link_map *holder = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void **>(&holder), RTLD_DL_LINKMAP) == 0 ||
        holder != own)
        return nullptr;
    void *symbolEntry = nullptr;
    if (::dladdr1(address, &info, &symbolEntry, RTLD_DL_SYMENT) == 0 || !symbolEntry ||
        info.dli_saddr != address)
        return nullptr;
    // The low four bits of st_info are the symbol's type in 32- and 64-bit ELF alike.
    const unsigned type = static_cast<const ElfW(Sym) *>(symbolEntry)->st_info & 0xF;
    return type == STT_FUNC || type == STT_GNU_IFUNC ? address : nullptr;
}

std::string findLibraryFile(const std::string &fileName, const std::string &programDir)
{
    if (fileName.empty())
        return {};
    if (fileName.find('/') != std::string::npos)
        return fileName;
    if (std::string local = inProgramDir(fileName, programDir); !local.empty())
        return local;

    // The copy the linker's search already chose, if the process holds one.
    if (void *handle = ::dlopen(fileName.c_str(), RTLD_LAZY | RTLD_LOCAL | RTLD_NOLOAD)) {
        std::string found;
        struct link_map *map = nullptr;
        if (::dlinfo(handle, RTLD_DI_LINKMAP, &map) == 0 && map && map->l_name)
            found = map->l_name;
        ::dlclose(handle);
        if (!found.empty())
            return found;
    }

    std::vector<std::string> dirs;
    if (const char *env = std::getenv("LD_LIBRARY_PATH")) {
        std::string list(env);
        size_t start = 0;
        while (start <= list.size()) {
            size_t end = list.find(':', start);
            if (end == std::string::npos)
                end = list.size();
            if (end > start)
                dirs.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    for (const char *dir : {"/lib", "/usr/lib", "/lib64", "/usr/lib64", "/usr/local/lib"})
        dirs.emplace_back(dir);
    for (const std::string &dir : dirs) {
        std::string candidate = joinPath(dir, fileName);
        if (isFile(candidate))
            return candidate;
    }
    return {};
}

std::string programDirectory()
{
    std::vector<char> buffer(4096);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            return {};
        if (size_t(n) < buffer.size()) {
            std::string path(buffer.data(), size_t(n));
            size_t slash = path.rfind('/');
            if (slash == std::string::npos)
                return {};
            return slash == 0 ? std::string("/") : path.substr(0, slash);
        }
        if (buffer.size() >= (1u << 20))
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

} // namespace quorlin
