// SPDX-License-Identifier: MIT
#include "platform/inifile.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace quorlin {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s)
{
    while (!s.empty() && isBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Names match without regard to case; the files are 8-bit text, so only the
// ASCII letters fold (as the profile-string service does for the C locale).
std::string fold(std::string_view s)
{
    std::string r(s);
    for (char &c : r)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return r;
}

bool hasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

// "[name]" -> name; a missing "]" takes the rest of the line.
bool sectionName(std::string_view line, std::string_view &name)
{
    std::string_view t = trim(line);
    if (t.empty() || t.front() != '[')
        return false;
    t.remove_prefix(1);
    std::size_t close = t.find(']');
    if (close != std::string_view::npos)
        t = t.substr(0, close);
    name = trim(t);
    return true;
}

// "key=value" -> key, value (both trimmed); comments and lines without "=" are no keys.
bool keyValue(std::string_view line, std::string_view &key, std::string_view &value)
{
    std::string_view t = trim(line);
    if (t.empty() || t.front() == ';')
        return false;
    std::size_t eq = t.find('=');
    if (eq == std::string_view::npos)
        return false;
    key = trim(t.substr(0, eq));
    value = trim(t.substr(eq + 1));
    return !key.empty();
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

long defaultWrite(int fd, const void *data, std::size_t size)
{
    return long(::write(fd, data, size));
}

std::string errorText(int err) { return std::strerror(err); }

} // namespace

IniWriteFunction IniWriteHook = defaultWrite;

std::optional<int> ParseIniInteger(std::string_view Text)
{
    std::string_view t = Text;
    while (!t.empty() && isBlank(t.front()))
        t.remove_prefix(1);
    bool negative = false;
    if (!t.empty() && (t.front() == '+' || t.front() == '-')) {
        negative = t.front() == '-';
        t.remove_prefix(1);
    }
    bool hex = false;
    if (t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
        hex = true;
        t.remove_prefix(2);
    } else if (!t.empty() && (t.front() == '$' || t.front() == 'x' || t.front() == 'X')) {
        hex = true;
        t.remove_prefix(1);
    }
    if (t.empty())
        return std::nullopt;
    if (hex) {
        // Up to 32 bits, taken as a two's complement int (so "$FFFFFFFF" is -1).
        uint64_t v = 0;
        for (char c : t) {
            int d = hexDigit(c);
            if (d < 0)
                return std::nullopt;
            v = v * 16 + uint64_t(d);
            if (v > 0xFFFFFFFFu)
                return std::nullopt;
        }
        uint32_t u = uint32_t(v);
        if (negative)
            u = 0u - u;
        return int32_t(u);
    }
    int64_t v = 0;
    for (char c : t) {
        if (c < '0' || c > '9')
            return std::nullopt;
        v = v * 10 + (c - '0');
        if (v > int64_t(INT_MAX) + 1)
            return std::nullopt;
    }
    if (negative)
        v = -v;
    if (v > INT_MAX || v < INT_MIN)
        return std::nullopt;
    return int(v);
}

// ---------------------------------------------------------------------------
// TIniDocument

TIniDocument TIniDocument::Parse(std::string_view Text)
{
    TIniDocument doc;
    Section *current = nullptr;
    std::size_t pos = 0;
    while (pos < Text.size()) {
        std::size_t end = Text.find_first_of("\r\n", pos);
        std::string_view line = Text.substr(pos, end == std::string_view::npos ? Text.npos : end - pos);
        if (end == std::string_view::npos)
            pos = Text.size();
        else if (Text[end] == '\r' && end + 1 < Text.size() && Text[end + 1] == '\n')
            pos = end + 2;
        else
            pos = end + 1;

        std::string_view name;
        if (sectionName(line, name)) {
            Section s;
            s.header = std::string(line);
            s.name = std::string(name);
            doc.m_sections.push_back(std::move(s));
            doc.m_sectionByName.emplace(fold(name), doc.m_sections.size() - 1);
            current = &doc.m_sections.back();
            continue;
        }
        if (!current) {
            doc.m_preamble.emplace_back(line);
            continue;
        }
        current->body.emplace_back(line);
        if (!trim(line).empty())
            current->insertAt = current->body.size();
        std::string_view key, value;
        if (keyValue(line, key, value))
            current->keys.emplace(fold(key), current->body.size() - 1);
    }
    return doc;
}

const TIniDocument::Section *TIniDocument::find(std::string_view Section) const
{
    auto it = m_sectionByName.find(fold(trim(Section)));
    return it == m_sectionByName.end() ? nullptr : &m_sections[it->second];
}

std::optional<std::string> TIniDocument::Value(std::string_view Section, std::string_view Key) const
{
    const auto *s = find(Section);
    if (!s)
        return std::nullopt;
    auto it = s->keys.find(fold(trim(Key)));
    if (it == s->keys.end())
        return std::nullopt;
    std::string_view key, value;
    keyValue(s->body[it->second], key, value);
    if (value.size() > IniMaxValueLength)
        value = value.substr(0, IniMaxValueLength);
    return std::string(value);
}

std::string TIniDocument::ReadString(std::string_view Section, std::string_view Key,
                                     const std::string &Default) const
{
    auto v = Value(Section, Key);
    return v ? *v : Default;
}

int TIniDocument::ReadInteger(std::string_view Section, std::string_view Key, int Default) const
{
    auto v = Value(Section, Key);
    if (!v)
        return Default;
    auto n = ParseIniInteger(*v);
    return n ? *n : Default;
}

bool TIniDocument::ReadBool(std::string_view Section, std::string_view Key, bool Default) const
{
    return ReadInteger(Section, Key, Default ? 1 : 0) != 0;
}

bool TIniDocument::SectionExists(std::string_view Section) const { return find(Section) != nullptr; }

std::vector<std::string> TIniDocument::Sections() const
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < m_sections.size(); ++i) {
        auto it = m_sectionByName.find(fold(m_sections[i].name));
        if (it != m_sectionByName.end() && it->second == i)
            names.push_back(m_sections[i].name);
    }
    return names;
}

std::vector<std::string> TIniDocument::SectionKeys(std::string_view Section) const
{
    std::vector<std::string> names;
    const auto *s = find(Section);
    if (!s)
        return names;
    for (std::size_t i = 0; i < s->body.size(); ++i) {
        std::string_view key, value;
        if (!keyValue(s->body[i], key, value))
            continue;
        auto it = s->keys.find(fold(key));
        if (it != s->keys.end() && it->second == i)
            names.emplace_back(key);
    }
    return names;
}

bool TIniDocument::Update(const std::string &SectionName, const std::string &Key,
                          const std::string &Value)
{
    // What could not be read back as the same name, or would split into
    // several lines, is refused rather than written wrongly.
    if (SectionName.empty() || hasLineBreak(SectionName) || SectionName.find(']') != std::string::npos ||
        trim(SectionName).size() != SectionName.size())
        return false;
    if (Key.empty() || hasLineBreak(Key) || Key.find('=') != std::string::npos || Key.front() == ';' ||
        Key.front() == '[' || trim(Key).size() != Key.size())
        return false;
    if (hasLineBreak(Value))
        return false;

    std::string line = Key + "=" + Value;
    std::string folded = fold(SectionName);
    auto it = m_sectionByName.find(folded);
    if (it == m_sectionByName.end()) {
        Section s;
        s.header = "[" + SectionName + "]";
        s.name = SectionName;
        s.body.push_back(line);
        s.insertAt = 1;
        s.keys.emplace(fold(Key), 0);
        m_sections.push_back(std::move(s));
        m_sectionByName.emplace(folded, m_sections.size() - 1);
        return true;
    }
    Section &s = m_sections[it->second];
    auto k = s.keys.find(fold(Key));
    if (k != s.keys.end()) {
        s.body[k->second] = line;
        return true;
    }
    // Only blank lines follow insertAt, so no key's line index moves.
    s.body.insert(s.body.begin() + std::ptrdiff_t(s.insertAt), line);
    s.keys.emplace(fold(Key), s.insertAt);
    ++s.insertAt;
    return true;
}

std::string TIniDocument::Text() const
{
    std::string out;
    auto put = [&out](const std::string &l) {
        out += l;
        out += '\n';
    };
    for (const auto &l : m_preamble)
        put(l);
    for (const auto &s : m_sections) {
        put(s.header);
        for (const auto &l : s.body)
            put(l);
    }
    return out;
}

// ---------------------------------------------------------------------------
// TIniFile

namespace {

// The whole file; false with errno set when it cannot be read (ENOENT when missing).
bool readFile(const std::string &path, std::string &out)
{
    out.clear();
    // Non-blocking, so that a FIFO named as a profile cannot hang the program
    // before it is recognised as no regular file.
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return false;
    struct stat st {};
    int err = 0;
    if (::fstat(fd, &st) != 0)
        err = errno;
    else if (S_ISDIR(st.st_mode))
        err = EISDIR;
    else if (!S_ISREG(st.st_mode))
        err = EINVAL; // a device or FIFO: /dev/zero would never end
    else if (st.st_size > off_t(IniMaxFileSize))
        err = EFBIG;
    if (err != 0) {
        ::close(fd);
        errno = err;
        return false;
    }
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            int err = errno;
            ::close(fd);
            errno = err;
            return false;
        }
        if (n == 0)
            break;
        out.append(buf, std::size_t(n));
        if (out.size() > IniMaxFileSize) { // grew while being read
            ::close(fd);
            errno = EFBIG;
            return false;
        }
    }
    ::close(fd);
    return true;
}

std::string directoryOf(const std::string &path)
{
    std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string baseNameOf(const std::string &path)
{
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class Fd {
public:
    explicit Fd(int fd) : m_fd(fd) {}
    ~Fd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
    int get() const { return m_fd; }
    int release()
    {
        int fd = m_fd;
        m_fd = -1;
        return fd;
    }

private:
    int m_fd;
};

} // namespace

TIniFile::TIniFile(std::string FileName) : m_fileName(std::move(FileName)) {}

TIniDocument TIniFile::Load() const
{
    std::string text;
    if (!readFile(m_fileName, text))
        return {};
    return TIniDocument::Parse(text);
}

std::string TIniFile::ReadString(const std::string &Section, const std::string &Key,
                                 const std::string &Default) const
{
    return Load().ReadString(Section, Key, Default);
}

int TIniFile::ReadInteger(const std::string &Section, const std::string &Key, int Default) const
{
    return Load().ReadInteger(Section, Key, Default);
}

bool TIniFile::ReadBool(const std::string &Section, const std::string &Key, bool Default) const
{
    return Load().ReadBool(Section, Key, Default);
}

std::vector<std::string> TIniFile::ReadSections() const { return Load().Sections(); }

std::vector<std::string> TIniFile::ReadSectionKeys(const std::string &Section) const
{
    return Load().SectionKeys(Section);
}

bool TIniFile::WriteString(const std::string &Section, const std::string &Key,
                           const std::string &Value)
{
    return Write({{Section, Key, Value}});
}

bool TIniFile::WriteInteger(const std::string &Section, const std::string &Key, int Value)
{
    return WriteString(Section, Key, std::to_string(Value));
}

bool TIniFile::WriteBool(const std::string &Section, const std::string &Key, bool Value)
{
    return WriteString(Section, Key, Value ? "1" : "0");
}

bool TIniFile::readDocument(TIniDocument &Document, std::string &Text)
{
    if (readFile(m_fileName, Text)) {
        Document = TIniDocument::Parse(Text);
        return true;
    }
    if (errno == ENOENT) {
        Document = {};
        Text.clear();
        return true;
    }
    // A file that exists but cannot be read must not be replaced by one
    // holding only the new keys.
    m_lastError = errorText(errno);
    return false;
}

int TIniFile::ReadText(std::string &Text) const
{
    return readFile(m_fileName, Text) ? 0 : errno;
}

bool TIniFile::Write(const std::vector<TIniEntry> &Entries)
{
    m_lastError.clear();
    TIniDocument doc;
    std::string old;
    if (!readDocument(doc, old))
        return false;
    for (const auto &e : Entries) {
        if (!doc.Update(e.Section, e.Key, e.Value)) {
            m_lastError = "the name or value of key \"" + e.Key + "\" cannot be stored on one line";
            return false;
        }
    }
    return replaceWith(doc.Text(), old);
}

namespace {

bool defaultDirectoryWritable(const std::string &Dir)
{
    return ::access(Dir.c_str(), W_OK | X_OK) == 0;
}

// All of Text through the write seam; false with errno set.
bool writeAllTo(int Fd, const std::string &Text)
{
    const char *p = Text.data();
    std::size_t left = Text.size();
    while (left > 0) {
        long n = IniWriteHook(Fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        left -= std::size_t(n);
    }
    return true;
}

// Overwrites the file itself: its inode, owner, group, permissions and hard
// links stay. Space is reserved before the first byte changes, so a full
// disk leaves the old text; a write that fails later is undone with the old
// text, which fits in the space the file already had.
bool overwriteInPlace(const std::string &Path, const std::string &Text, const std::string &Old,
                      int &Error)
{
    Fd file(::open(Path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (file.get() < 0) {
        Error = errno;
        return false;
    }
    struct stat st {};
    if (::fstat(file.get(), &st) != 0) {
        Error = errno;
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        Error = EINVAL;
        return false;
    }
    if (Text.size() > std::size_t(st.st_size)) {
        const int err = ::posix_fallocate(file.get(), 0, off_t(Text.size()));
        // Some file systems cannot reserve; the write then finds out.
        if (err != 0 && err != EOPNOTSUPP && err != EINVAL && err != ENOSYS) {
            Error = err;
            return false;
        }
    }
    if (!writeAllTo(file.get(), Text)) {
        Error = errno;
        if (::lseek(file.get(), 0, SEEK_SET) == 0) {
            const char *p = Old.data();
            std::size_t left = Old.size();
            while (left > 0) {
                const ssize_t n = ::write(file.get(), p, left);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                p += n;
                left -= std::size_t(n);
            }
            if (left == 0 && ::ftruncate(file.get(), off_t(Old.size())) == 0)
                ::fsync(file.get());
        }
        return false;
    }
    if (::ftruncate(file.get(), off_t(Text.size())) != 0 || ::fsync(file.get()) != 0 ||
        ::close(file.release()) != 0) {
        Error = errno;
        return false;
    }
    return true;
}

} // namespace

IniDirectoryWritableFunction IniDirectoryWritableHook = defaultDirectoryWritable;

namespace {

bool replaceFile(const std::string &FileName, const std::string &Text, const std::string &Old,
                 std::string &LastError)
{
    auto fail = [&LastError](int err) {
        LastError = errorText(err);
        return false;
    };
    if (FileName.empty())
        return fail(ENOENT);

    // Through a symbolic link the file it points at is replaced, not the link.
    std::string target = FileName;
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        char *real = ::realpath(target.c_str(), nullptr);
        if (!real)
            return fail(errno);
        target = real;
        std::free(real);
    }

    bool exists = false;
    if (::stat(target.c_str(), &st) == 0) {
        exists = true;
        if (!S_ISREG(st.st_mode))
            return fail(S_ISDIR(st.st_mode) ? EISDIR : EINVAL);
        // A file without any write permission is read-only even for a user
        // (root) whom the kernel would let write: the rename must not replace it.
        if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
            return fail(EACCES);
        if (::access(target.c_str(), W_OK) != 0)
            return fail(errno);
    } else if (errno != ENOENT) {
        return fail(errno);
    }

    std::string dir = directoryOf(target);
    std::string base = baseNameOf(target);
    auto inPlace = [&] {
        int err = 0;
        return overwriteInPlace(target, Text, Old, err) || fail(err);
    };
    // A writable file in a folder we may not write (a root-owned program
    // folder holding the user's quorlin.ini), or one with other names (hard
    // links) that a rename would leave behind with the old text, is written
    // where it is.
    if (exists && (st.st_nlink > 1 || !IniDirectoryWritableHook(dir)))
        return inPlace();

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = dir + "/." + base + "." + std::to_string(::getpid()) + "." +
               std::to_string(unsigned(std::rand()) ^ unsigned(attempt)) + ".tmp";
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST)
            return exists ? inPlace() : fail(errno);
    }
    if (fd < 0)
        return fail(EEXIST);
    Fd file(fd);
    auto abandon = [&](int err) {
        ::close(file.release());
        ::unlink(temp.c_str());
        return fail(err);
    };
    if (exists) {
        // The replacement keeps the old file's permissions and owner. Where
        // we may not give it the old owner and group (another user's file),
        // the rename would hand the file to us: write in place instead.
        if (::fchmod(file.get(), st.st_mode & 07777) != 0)
            return abandon(errno);
        if (::fchown(file.get(), st.st_uid, st.st_gid) != 0) {
            struct stat mine {};
            if (::fstat(file.get(), &mine) != 0 || mine.st_uid != st.st_uid ||
                mine.st_gid != st.st_gid) {
                ::close(file.release());
                ::unlink(temp.c_str());
                return inPlace();
            }
        }
    }
    if (!writeAllTo(file.get(), Text))
        return abandon(errno);
    if (::fsync(file.get()) != 0)
        return abandon(errno);
    if (::close(file.release()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return fail(err);
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        return fail(err);
    }
    // Make the rename itself durable.
    Fd dirFd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirFd.get() >= 0)
        ::fsync(dirFd.get());
    return true;
}

} // namespace

bool TIniFile::replaceWith(const std::string &Text, const std::string &Old)
{
    return replaceFile(m_fileName, Text, Old, m_lastError);
}

bool TIniFile::Replace(const std::vector<TIniEntry> &Entries)
{
    m_lastError.clear();
    TIniDocument doc;
    for (const auto &e : Entries) {
        if (!doc.Update(e.Section, e.Key, e.Value)) {
            m_lastError = "the name or value of key \"" + e.Key + "\" cannot be stored on one line";
            return false;
        }
    }
    // The old text only serves to undo a write in place that failed half-way;
    // whatever the file held (a picture, a huge file) is replaced.
    std::string old;
    if (!readFile(m_fileName, old))
        old.clear();
    return replaceWith(doc.Text(), old);
}

bool ReplaceFileText(const std::string &Path, const std::string &Text, std::string &Error)
{
    Error.clear();
    std::string old;
    Fd file(::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (file.get() >= 0) {
        struct stat st {};
        if (::fstat(file.get(), &st) == 0 && S_ISREG(st.st_mode)) {
            char buf[65536];
            for (;;) {
                const ssize_t n = ::read(file.get(), buf, sizeof buf);
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    break;
                old.append(buf, std::size_t(n));
            }
        }
    }
    return replaceFile(Path, Text, old, Error);
}

} // namespace quorlin
