// SPDX-License-Identifier: MIT
// A shared library opened with dlopen and closed when its owner goes away.
#pragma once

#include <string>

namespace quorlin
{

class DynamicLibrary
{
  public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary &) = delete;
    DynamicLibrary &operator=(const DynamicLibrary &) = delete;
    DynamicLibrary(DynamicLibrary &&other) noexcept;
    DynamicLibrary &operator=(DynamicLibrary &&other) noexcept;

    // Opens fileName from programDir when a file of that name lies there,
    // otherwise by the bare name through the dynamic linker's own search
    // (RUNPATH, LD_LIBRARY_PATH, ld.so.cache, system directories). A file in
    // programDir that exists but cannot be loaded is not replaced by another
    // copy found elsewhere. Closes any library opened before. RTLD_NOW, so a
    // library with unresolved symbols fails here and not in the middle of a tick.
    bool load(const std::string &fileName, const std::string &programDir);
    void close();

    bool isLoaded() const { return m_handle != nullptr; }
    // The address of an exported symbol, or null. The dynamic linker also
    // searches the library's own dependencies (libc, libm, ...) for it.
    void *symbol(const std::string &name) const;
    // The address of a function that this library itself defines and
    // exports, or null: a name that only a dependency defines ("exit",
    // "rand"), and a data object, give null.
    void *ownFunction(const std::string &name) const;

    // The path dlopen was given (programDir/fileName or the bare name).
    const std::string &path() const { return m_path; }
    // Why the last load failed ("cannot open ...: ...").
    const std::string &errorString() const { return m_error; }

  private:
    void *m_handle = nullptr;
    std::string m_path;
    std::string m_error;
};

// Where DynamicLibrary::load would take fileName from, or "" when it would find
// nothing: programDir/fileName when it exists, else the copy the process has
// already loaded under that bare name, else the first of LD_LIBRARY_PATH and
// the system library directories that holds it. A name with a '/' is itself.
std::string findLibraryFile(const std::string &fileName, const std::string &programDir);

// The directory of the running executable ("" when /proc/self/exe is unreadable).
std::string programDirectory();

} // namespace quorlin
