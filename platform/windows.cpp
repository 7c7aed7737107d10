// Windows backend, on the wide-character Win32 API. Paths are UTF-8 outside
// and UTF-16 in here; long absolute paths get the \\?\ prefix. Hidden and
// system come from the file attributes. Links and junctions are reported as
// Kind::other, system, and never followed; other reparse points (a file
// deduplicated, compressed by the system, kept in a cloud) are the files
// and directories they hold.
#include <windows.h>

#include <algorithm>
#include <cwctype>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "platform/windows_entries.h"

namespace qm::os {

namespace win {

// Newer than the MinGW-w64 headers.
constexpr std::uint32_t kRecallOnOpen = 0x40000;
constexpr std::uint32_t kRecallOnDataAccess = 0x400000;

Entry entry_of(std::uint32_t attributes, std::uint32_t tag) {
    if (attributes & FILE_ATTRIBUTE_DEVICE) return Entry::other;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
        // Links and mount points, and every tag that stands for another
        // name (the Linux subsystem's links among them). A tag that could
        // not be read is taken for one too: Wine gives none for its links.
        if (tag == 0 || tag == IO_REPARSE_TAG_SYMLINK || tag == IO_REPARSE_TAG_MOUNT_POINT ||
            IsReparseTagNameSurrogate(tag))
            return Entry::link;
        if (tag == IO_REPARSE_TAG_AF_UNIX) return Entry::other;
        // Anything else keeps a file's or a directory's data its own way
        // (deduplicated, compressed, in a cloud): an ordinary entry.
    }
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? Entry::dir : Entry::file;
}

bool contents_elsewhere(std::uint32_t attributes) {
    return (attributes & (kRecallOnDataAccess | kRecallOnOpen | FILE_ATTRIBUTE_OFFLINE)) != 0;
}

// FAT and exFAT flush no directory but the root (invalid parameter);
// shares and other volumes refuse as they see fit.
bool flushes_no_directories(std::uint32_t error) {
    switch (error) {
        case ERROR_INVALID_FUNCTION:
        case ERROR_INVALID_PARAMETER:
        case ERROR_NOT_SUPPORTED:
        case ERROR_ACCESS_DENIED:
            return true;
        default:
            return false;
    }
}

}  // namespace win

namespace {

// Beyond this length the plain Win32 path functions fail (CreateDirectoryW
// stops at MAX_PATH - 12), so longer paths take the \\?\ form.
constexpr std::size_t kLongPath = MAX_PATH - 12;

// A copy's chunk: between two chunks the progress call can cancel.
constexpr std::size_t kChunk = 4u << 20;

// How long a replace is retried while another process holds the target.
constexpr DWORD kReplaceRetryMs = 2000;
constexpr DWORD kReplaceStepMs = 50;

// The engine's temporary copies; hidden while they are being written.
constexpr std::wstring_view kTempPrefix = L".qm-";

std::wstring widen(std::string_view s, UINT cp = CP_UTF8) {
    if (s.empty()) return {};
    int n = ::MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(cp, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

// UTF-16 as UTF-8, which holds every character.
std::string narrow(std::wstring_view w) {
    if (w.empty()) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                  nullptr, nullptr);
    std::string s(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                          nullptr);
    return s;
}

// UTF-8 in the ANSI code page, only when every character is there as
// itself: the system would otherwise put a look-alike ("best fit": Ł as L)
// or its default character in its place, and a path so changed can name
// another directory.
std::optional<std::string> to_ansi(std::string_view utf8) {
    if (utf8.empty()) return std::string();
    const std::wstring w = widen(utf8);
    const int len = static_cast<int>(w.size());
    BOOL defaulted = FALSE;
    const int n = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), len, nullptr, 0,
                                        nullptr, &defaulted);
    if (n <= 0 || defaulted) return std::nullopt;
    std::string s(static_cast<std::size_t>(n), '\0');
    if (::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, w.data(), len, s.data(), n, nullptr,
                              &defaulted) != n ||
        defaulted)
        return std::nullopt;
    // Read back, it must be the very text (an invalid UTF-8 byte became
    // U+FFFD above, which no ANSI code page has).
    if (widen(s, CP_ACP) != w || narrow(w) != utf8) return std::nullopt;
    return s;
}

// The UTF-16 path handed to the API.
std::wstring wpath(const std::string& path) {
    std::wstring w = widen(path);
    if (w.size() < kLongPath || w.rfind(L"\\\\?\\", 0) == 0) return w;
    // \\?\ paths are taken literally, so make the path absolute and
    // normalised first.
    std::replace(w.begin(), w.end(), L'/', L'\\');
    DWORD n = ::GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
    if (n > 0) {
        std::wstring full(n, L'\0');
        DWORD m = ::GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
        if (m > 0 && m < n) {
            full.resize(m);
            w = std::move(full);
        }
    }
    if (w.rfind(L"\\\\", 0) == 0) return L"\\\\?\\UNC\\" + w.substr(2);
    if (w.size() >= 3 && w[1] == L':' && w[2] == L'\\') return L"\\\\?\\" + w;
    return w;
}

std::wstring file_part(const std::wstring& w) {
    auto sep = w.find_last_of(L"\\/");
    return sep == std::wstring::npos ? w : w.substr(sep + 1);
}

bool is_temp_name(const std::wstring& w) {
    return file_part(w).rfind(kTempPrefix, 0) == 0;
}

Errc code_of(DWORD err) {
    switch (err) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_NO_MORE_FILES:
            return Errc::not_found;
        case ERROR_FILE_EXISTS:
        case ERROR_ALREADY_EXISTS:
            return Errc::exists;
        case ERROR_ACCESS_DENIED:
        case ERROR_WRITE_PROTECT:
        case ERROR_PRIVILEGE_NOT_HELD:
        case ERROR_NETWORK_ACCESS_DENIED:
            return Errc::access;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_BUSY:
        case ERROR_USER_MAPPED_FILE:
            return Errc::busy;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return Errc::no_space;
        case ERROR_DIRECTORY:
            return Errc::not_dir;
        case ERROR_DIR_NOT_EMPTY:
            return Errc::exists;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
        case ERROR_INVALID_PARAMETER:
            return Errc::invalid;
        case ERROR_NOT_READY:
        case ERROR_CRC:
        case ERROR_READ_FAULT:
        case ERROR_WRITE_FAULT:
        case ERROR_GEN_FAILURE:
        case ERROR_IO_DEVICE:
        case ERROR_SECTOR_NOT_FOUND:
            return Errc::io;
        case ERROR_OPERATION_ABORTED:
        case ERROR_REQUEST_ABORTED:
            return Errc::cancelled;
        default:
            return Errc::other;
    }
}

std::string reason_of(DWORD err) {
    wchar_t* buf = nullptr;
    DWORD n = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, err, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
    std::wstring w;
    if (n > 0 && buf) w.assign(buf, n);
    if (buf) ::LocalFree(buf);
    // One line without the closing full stop, like the POSIX texts.
    while (!w.empty() &&
           (w.back() == L'\r' || w.back() == L'\n' || w.back() == L' ' || w.back() == L'.'))
        w.pop_back();
    if (w.empty()) return "error " + std::to_string(err);
    return narrow(w);
}

Error fail(const char* op, const std::string& path, DWORD err = ::GetLastError()) {
    return make_error(std::string(op), path, static_cast<long>(err));
}

class Handle {
public:
    explicit Handle(HANDLE h = INVALID_HANDLE_VALUE) : h_(h) {}
    ~Handle() {
        if (valid()) ::CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
    // Hands the handle over; this one then holds none.
    HANDLE release() { return std::exchange(h_, INVALID_HANDLE_VALUE); }
    // Closes now and reports whether it went well.
    bool close() {
        BOOL ok = ::CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok != 0;
    }

private:
    HANDLE h_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// 100 ns intervals between 1601-01-01 and 1970-01-01.
constexpr std::int64_t kEpochDelta = 116444736000000000LL;

FileTime from_filetime(const FILETIME& ft) {
    std::int64_t t = static_cast<std::int64_t>(
                         (static_cast<std::uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) -
                     kEpochDelta;
    std::int64_t sec = t / 10'000'000;
    std::int64_t rem = t % 10'000'000;
    if (rem < 0) {
        rem += 10'000'000;
        --sec;
    }
    return {sec, static_cast<std::int32_t>(rem * 100)};
}

FILETIME to_filetime(FileTime t) {
    std::int64_t v = t.sec * 10'000'000 + t.nsec / 100 + kEpochDelta;
    if (v < 0) v = 0;
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(v) & 0xffffffffu);
    ft.dwHighDateTime = static_cast<DWORD>(static_cast<std::uint64_t>(v) >> 32);
    return ft;
}

Kind kind_of(DWORD attrs, DWORD tag) {
    switch (win::entry_of(attrs, tag)) {
        case win::Entry::file:
            return Kind::file;
        case win::Entry::dir:
            return Kind::dir;
        default:
            return Kind::other;
    }
}

Status write_all(HANDLE h, const char* data, std::size_t size, const std::string& path) {
    while (size > 0) {
        DWORD step = static_cast<DWORD>(std::min<std::size_t>(size, kChunk));
        DWORD n = 0;
        if (!::WriteFile(h, data, step, &n, nullptr)) return std::unexpected(fail("write", path));
        if (n == 0) return std::unexpected(make_error(Errc::io, "write", path, "nothing written"));
        data += n;
        size -= n;
    }
    return {};
}

// The reparse tag of the entry a handle was opened on (with
// FILE_FLAG_OPEN_REPARSE_POINT); 0 when it has none or it cannot be read.
DWORD reparse_tag(HANDLE h) {
    FILE_ATTRIBUTE_TAG_INFO t{};
    if (!::GetFileInformationByHandleEx(h, FileAttributeTagInfo, &t, sizeof t)) return 0;
    return (t.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? t.ReparseTag : 0;
}

// The same, by path.
DWORD reparse_tag(const std::wstring& path) {
    HANDLE h = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    const DWORD tag = reparse_tag(h);
    ::CloseHandle(h);
    return tag;
}

bool same_file(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b) {
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
}

// Opens a regular file to read, never through a link. A file whose data
// the system keeps its own way (deduplicated, compressed, in a cloud) is a
// reparse point, and a handle on the point itself may not read its
// contents: it is opened again as the file, and taken only when that is the
// very file looked at, so that a link put in its place meanwhile is still
// refused. With here_only, a file whose contents are not on this computer
// is refused before anything fetches them.
Result<HANDLE> open_regular(const std::string& path, DWORD flags, bool here_only,
                            BY_HANDLE_FILE_INFORMATION* info) {
    const std::wstring w = wpath(path);
    Handle h(::CreateFileW(w.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                           flags | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!h.valid()) return std::unexpected(fail("open", path));
    auto refuse = [&](const char* why) {
        return std::unexpected(make_error(Errc::invalid, "open", path, why));
    };
    if (::GetFileType(h.get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h.get(), info) ||
        (info->dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return refuse("not a regular file");
    const DWORD attrs = info->dwFileAttributes;
    if ((attrs & FILE_ATTRIBUTE_REPARSE_POINT) &&
        win::entry_of(attrs, reparse_tag(h.get())) != win::Entry::file)
        return refuse("not a regular file (a link)");
    if (here_only && win::contents_elsewhere(attrs))
        return std::unexpected(make_error(Errc::other, "open", path,
                                          "its contents are not on this computer (online only, "
                                          "or in offline storage), and are not fetched"));
    if (!(attrs & FILE_ATTRIBUTE_REPARSE_POINT)) return h.release();
    Handle data(
        ::CreateFileW(w.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!data.valid()) return std::unexpected(fail("open", path));
    BY_HANDLE_FILE_INFORMATION again;
    if (!::GetFileInformationByHandle(data.get(), &again))
        return std::unexpected(fail("open", path));
    if (!same_file(*info, again) || (again.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return std::unexpected(
            make_error(Errc::changed, "open", path, "another file has taken its name"));
    *info = again;
    return data.release();
}

FileTime from_large(const LARGE_INTEGER& v) {
    FILETIME ft;
    ft.dwLowDateTime = v.LowPart;
    ft.dwHighDateTime = static_cast<DWORD>(v.HighPart);
    return from_filetime(ft);
}

// The version of the file behind the handle.
Result<FileState> state_of(HANDLE h, const std::string& path) {
    BY_HANDLE_FILE_INFORMATION info;
    FILE_BASIC_INFO basic;
    if (!::GetFileInformationByHandle(h, &info) ||
        !::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
        return std::unexpected(fail("stat", path));
    FileState s;
    s.id = {info.dwVolumeSerialNumber,
            (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    s.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    s.mtime = from_filetime(info.ftLastWriteTime);
    s.ctime = from_large(basic.ChangeTime);
    return s;
}

class WindowsOs final : public Os {
public:
    Result<std::vector<DirEntry>> list_dir(const std::string& dir) override {
        return read_dir(dir, {});
    }

    // The search gives every entry's length and time with the names: no
    // call per entry.
    Result<std::vector<DirEntry>> list_dir_detailed(const std::string& dir,
                                                    const std::function<bool()>& between) override {
        return read_dir(dir, between);
    }

    Result<std::vector<DirEntry>> read_dir(const std::string& dir,
                                           const std::function<bool()>& between) {
        std::wstring pattern = wpath(dir);
        if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
        pattern += L'*';
        WIN32_FIND_DATAW fd;
        // Without the short names, which nothing here uses and which cost
        // the file system a look-up of their own, and in large batches: a
        // share answers a directory in fewer round trips.
        HANDLE h = ::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &fd, FindExSearchNameMatch,
                                      nullptr, FIND_FIRST_EX_LARGE_FETCH);
        std::vector<DirEntry> out;
        if (h == INVALID_HANDLE_VALUE) {
            DWORD err = ::GetLastError();
            // An empty drive root has no "." or "..", so nothing at all.
            if (err == ERROR_FILE_NOT_FOUND) {
                DWORD a = ::GetFileAttributesW(wpath(dir).c_str());
                if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY)) return out;
            }
            return std::unexpected(fail("read directory", dir, err));
        }
        DWORD err = ERROR_NO_MORE_FILES;
        do {
            std::wstring_view n = fd.cFileName;
            if (n == L"." || n == L"..") continue;
            if (between && !between()) {
                ::FindClose(h);
                return std::unexpected(cancelled("read directory", dir));
            }
            DirEntry e;
            e.name = narrow(n);
            e.kind = kind_of(fd.dwFileAttributes, fd.dwReserved0);
            e.hidden = (fd.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
            e.system = (fd.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0 || e.kind == Kind::other;
            if (e.kind == Kind::file)
                e.size = (static_cast<std::uint64_t>(fd.nFileSizeHigh) << 32) | fd.nFileSizeLow;
            e.mtime = from_filetime(fd.ftLastWriteTime);
            out.push_back(std::move(e));
        } while (::FindNextFileW(h, &fd) || (err = ::GetLastError()) != ERROR_NO_MORE_FILES);
        ::FindClose(h);
        if (err != ERROR_NO_MORE_FILES) return std::unexpected(fail("read directory", dir, err));
        return out;
    }

    Result<FileInfo> stat(const std::string& path) override {
        WIN32_FILE_ATTRIBUTE_DATA d;
        if (!::GetFileAttributesExW(wpath(path).c_str(), GetFileExInfoStandard, &d))
            return std::unexpected(fail("stat", path));
        FileInfo fi;
        const DWORD tag =
            (d.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? reparse_tag(wpath(path)) : 0;
        fi.kind = kind_of(d.dwFileAttributes, tag);
        fi.hidden = (d.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
        fi.system = (d.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0 || fi.kind == Kind::other;
        fi.read_only = (d.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        fi.size = fi.kind == Kind::file
                      ? (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow
                      : 0;
        fi.mtime = from_filetime(d.ftLastWriteTime);
        return fi;
    }

    Result<FileId> identity(const std::string& path) override {
        // Backup semantics opens directories too; links are followed.
        Handle h(::CreateFileW(wpath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!h.valid()) return std::unexpected(fail("stat", path));
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(h.get(), &info))
            return std::unexpected(fail("stat", path));
        return FileId{info.dwVolumeSerialNumber,
                      (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
    }

    Result<FileState> file_state(const std::string& path) override {
        Handle h(::CreateFileW(wpath(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                               OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!h.valid()) return std::unexpected(fail("stat", path));
        return state_of(h.get(), path);
    }

    bool exists(const std::string& path) override {
        return ::GetFileAttributesW(wpath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

    Result<bool> probe(const std::string& path) override {
        if (::GetFileAttributesW(wpath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
        const DWORD err = ::GetLastError();
        if (err == ERROR_FILE_NOT_FOUND || err == ERROR_PATH_NOT_FOUND) return false;
        return std::unexpected(fail("look up", path, err));
    }

    Status make_dir(const std::string& path) override {
        if (!::CreateDirectoryW(wpath(path).c_str(), nullptr))
            return std::unexpected(fail("create directory", path));
        return {};
    }

    // The new directory inherits its permissions from its parent.
    Status make_dir_like(const std::string& path, const std::string&) override {
        return make_dir(path);
    }

    // The user's temporary directory is private already; what is refused is
    // a link or junction that would lead elsewhere.
    Status make_private_dir(const std::string& path) override {
        const std::wstring w = wpath(path);
        if (::CreateDirectoryW(w.c_str(), nullptr)) return {};
        const DWORD err = ::GetLastError();
        if (err != ERROR_ALREADY_EXISTS)
            return std::unexpected(fail("create directory", path, err));
        const DWORD a = ::GetFileAttributesW(w.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) return std::unexpected(fail("open", path));
        if (!(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT))
            return std::unexpected(make_error(Errc::access, "open", path,
                                              "not a directory of its own (a link or a file)"));
        return {};
    }

    Status create_private(const std::string& path) override {
        Handle h(::CreateFileW(wpath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid()) return std::unexpected(fail("create", path));
        if (!h.close()) return std::unexpected(fail("close", path));
        return {};
    }

    Result<std::shared_ptr<void>> lock_file(const std::string& path, bool exclusive,
                                            bool wait) override {
        HANDLE h = ::CreateFileW(wpath(path).c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h == INVALID_HANDLE_VALUE) return std::unexpected(fail("open", path));
        OVERLAPPED ov{};
        const DWORD how =
            (exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0) | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
        if (!::LockFileEx(h, how, 0, 1, 0, &ov)) {
            const DWORD err = ::GetLastError();
            ::CloseHandle(h);
            if (err == ERROR_LOCK_VIOLATION || err == ERROR_IO_PENDING)
                return std::shared_ptr<void>();
            return std::unexpected(fail("lock", path, err));
        }
        // Closing the handle ends the lock.
        return std::shared_ptr<void>(h, [](void* p) { ::CloseHandle(static_cast<HANDLE>(p)); });
    }

    // A directory held open without leave to delete or rename it: neither
    // it nor any directory above it can be renamed, removed or replaced by
    // a link while it is held, so its path keeps naming it.
    static Result<std::shared_ptr<void>> pin_dir(const std::string& path) {
        HANDLE h =
            ::CreateFileW(wpath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                          FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                          FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
        if (h == INVALID_HANDLE_VALUE) return std::unexpected(fail("open", path));
        std::shared_ptr<void> pin(h, [](void* p) { ::CloseHandle(static_cast<HANDLE>(p)); });
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(h, &info)) return std::unexpected(fail("open", path));
        const DWORD attrs = info.dwFileAttributes;
        const DWORD tag = (attrs & FILE_ATTRIBUTE_REPARSE_POINT) ? reparse_tag(h) : 0;
        // Wine opens the directory a link leads to whatever the flag says;
        // its name, which the pin now holds, still shows the link.
        bool link_by_name = false;
        WIN32_FIND_DATAW fd;
        if (HANDLE f = ::FindFirstFileW(wpath(path).c_str(), &fd); f != INVALID_HANDLE_VALUE) {
            ::FindClose(f);
            link_by_name = win::entry_of(fd.dwFileAttributes, fd.dwReserved0) != win::Entry::dir;
        }
        if (link_by_name || win::entry_of(attrs, tag) != win::Entry::dir)
            return std::unexpected(make_error(Errc::not_dir, "open", path,
                                              "not a directory (a link, a junction or a file)"));
        return pin;
    }

    Result<OpenDir> open_dir(const std::string& path) override {
        // The directory the entry names may itself be reached through a
        // link: opened as it is, then pinned.
        Handle h(::CreateFileW(wpath(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!h.valid()) return std::unexpected(fail("open", path));
        BY_HANDLE_FILE_INFORMATION info;
        if (!::GetFileInformationByHandle(h.get(), &info) ||
            !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            return std::unexpected(make_error(Errc::not_dir, "open", path, "not a directory"));
        HANDLE raw = h.release();
        return OpenDir{with_separator(path), nullptr,
                       std::shared_ptr<void>(raw, [](void* p) { ::CloseHandle(p); })};
    }

    Result<OpenDir> open_dir_below(const OpenDir& root, const std::string& rel) override {
        if (rel.empty()) return root;
        // Each step pinned in turn, the one above it held meanwhile; the
        // last pin holds them all.
        std::string path = root.path;
        std::shared_ptr<void> held = root.pin;
        for (std::size_t at = 0; at < rel.size();) {
            auto end = rel.find('\\', at);
            if (end == std::string::npos) end = rel.size();
            path += rel.substr(at, end - at);
            auto pin = pin_dir(path);
            if (!pin) return std::unexpected(pin.error());
            held = std::move(*pin);
            path += '\\';
            at = end + 1;
        }
        return OpenDir{path, nullptr, held};
    }

    // Through one handle that shares reading only: a program that has the
    // file open to write, or to delete or rename it, keeps it from opening
    // here, none can open it so meanwhile, and the file checked is the one
    // deleted.
    Status remove_unchanged(const OpenDir& dir, const std::string& name,
                            const FileState& expected) override {
        const std::string path = dir.path + name;
        Handle h(::CreateFileW(
            wpath(path).c_str(), DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES,
            FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!h.valid()) {
            const DWORD err = ::GetLastError();
            if (err == ERROR_SHARING_VIOLATION)
                return std::unexpected(
                    make_error(Errc::busy, "delete", path, "it is open in another program"));
            return std::unexpected(fail("open", path, err));
        }
        auto s = state_of(h.get(), path);
        if (!s) return std::unexpected(s.error());
        if (!(*s == expected))
            return std::unexpected(
                make_error(Errc::changed, "delete", path, "it changed since it was copied"));
        FILE_DISPOSITION_INFO gone{TRUE};
        if (::SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone))
            return {};
        DWORD err = ::GetLastError();
        // A read-only file goes too, as it does on POSIX in a writable
        // directory.
        FILE_BASIC_INFO basic{};
        if (err == ERROR_ACCESS_DENIED &&
            ::GetFileInformationByHandleEx(h.get(), FileBasicInfo, &basic, sizeof basic) &&
            (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
            basic.FileAttributes &= ~DWORD(FILE_ATTRIBUTE_READONLY);
            if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;
            if (::SetFileInformationByHandle(h.get(), FileBasicInfo, &basic, sizeof basic) &&
                ::SetFileInformationByHandle(h.get(), FileDispositionInfo, &gone, sizeof gone))
                return {};
            err = ::GetLastError();
        }
        return std::unexpected(fail("delete", path, err));
    }

    Status remove_file(const std::string& path) override {
        const std::wstring w = wpath(path);
        if (::DeleteFileW(w.c_str())) return {};
        DWORD err = ::GetLastError();
        // A read-only file goes too, as it does on POSIX in a writable
        // directory.
        DWORD a = ::GetFileAttributesW(w.c_str());
        if (err == ERROR_ACCESS_DENIED && a != INVALID_FILE_ATTRIBUTES &&
            (a & FILE_ATTRIBUTE_READONLY) && !(a & FILE_ATTRIBUTE_DIRECTORY)) {
            if (::SetFileAttributesW(w.c_str(), a & ~DWORD(FILE_ATTRIBUTE_READONLY))) {
                if (::DeleteFileW(w.c_str())) return {};
                err = ::GetLastError();
                ::SetFileAttributesW(w.c_str(), a);
            }
        }
        return std::unexpected(fail("delete", path, err));
    }

    Status remove_dir(const std::string& path) override {
        if (!::RemoveDirectoryW(wpath(path).c_str()))
            return std::unexpected(fail("remove directory", path));
        return {};
    }

    Status make_hidden(const std::string& path) override {
        const std::wstring p = wpath(path);
        DWORD a = p.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(p.c_str());
        if (a == INVALID_FILE_ATTRIBUTES ||
            !::SetFileAttributesW(p.c_str(),
                                  (a & ~DWORD(FILE_ATTRIBUTE_NORMAL)) | FILE_ATTRIBUTE_HIDDEN))
            return std::unexpected(fail("hide", path));
        return {};
    }

    Result<std::string> read_file(const std::string& path) override {
        BY_HANDLE_FILE_INFORMATION info;
        auto opened = open_regular(path, FILE_FLAG_SEQUENTIAL_SCAN, false, &info);
        if (!opened) return std::unexpected(opened.error());
        Handle h(*opened);
        std::string out;
        out.reserve((static_cast<std::size_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
        std::vector<char> buf(1u << 16);
        for (;;) {
            DWORD n = 0;
            if (!::ReadFile(h.get(), buf.data(), static_cast<DWORD>(buf.size()), &n, nullptr))
                return std::unexpected(fail("read", path));
            if (n == 0) break;
            out.append(buf.data(), n);
        }
        return out;
    }

    // Only the piece asked for is read: a long file read piece by piece
    // costs its length once.
    Result<std::string> read_part(const std::string& path, std::uint64_t offset,
                                  std::size_t max) override {
        BY_HANDLE_FILE_INFORMATION info;
        auto opened = open_regular(path, FILE_FLAG_SEQUENTIAL_SCAN, false, &info);
        if (!opened) return std::unexpected(opened.error());
        Handle h(*opened);
        LARGE_INTEGER at;
        at.QuadPart = static_cast<LONGLONG>(offset);
        if (!::SetFilePointerEx(h.get(), at, nullptr, FILE_BEGIN))
            return std::unexpected(fail("read", path));
        std::string out(max, '\0');
        std::size_t got = 0;
        while (got < max) {
            DWORD n = 0;
            const DWORD step = static_cast<DWORD>(std::min<std::size_t>(max - got, kChunk));
            if (!::ReadFile(h.get(), out.data() + got, step, &n, nullptr))
                return std::unexpected(fail("read", path));
            if (n == 0) break;
            got += n;
        }
        out.resize(got);
        return out;
    }

    Status write_file(const std::string& path, std::string_view data, bool durable) override {
        // OPEN_ALWAYS and truncating, because CREATE_ALWAYS refuses an
        // existing hidden or system file.
        Handle h(::CreateFileW(wpath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid()) return std::unexpected(fail("create", path));
        if (!::SetEndOfFile(h.get())) return std::unexpected(fail("write", path));
        if (auto w = write_all(h.get(), data.data(), data.size(), path); !w) return w;
        if (durable && !::FlushFileBuffers(h.get())) return std::unexpected(fail("flush", path));
        if (!h.close()) return std::unexpected(fail("close", path));
        return {};
    }

    Status append_file(const std::string& path, std::string_view data) override {
        Handle h(::CreateFileW(wpath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                               OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!h.valid()) return std::unexpected(fail("open", path));
        LARGE_INTEGER zero{};
        if (!::SetFilePointerEx(h.get(), zero, nullptr, FILE_END))
            return std::unexpected(fail("write", path));
        if (auto w = write_all(h.get(), data.data(), data.size(), path); !w) return w;
        if (!h.close()) return std::unexpected(fail("close", path));
        return {};
    }

    Result<FileState> copy_file(const std::string& from, const std::string& to,
                                const CopyProgress& progress, bool durable) override {
        BY_HANDLE_FILE_INFORMATION info;
        auto opened = open_regular(from, FILE_FLAG_SEQUENTIAL_SCAN, true, &info);
        if (!opened) return std::unexpected(opened.error());
        Handle in(*opened);
        auto before = state_of(in.get(), from);
        if (!before) return before;

        const std::wstring wto = wpath(to);
        const DWORD attrs = is_temp_name(wto) ? FILE_ATTRIBUTE_HIDDEN : FILE_ATTRIBUTE_NORMAL;
        Handle out(::CreateFileW(wto.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 attrs | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!out.valid()) return std::unexpected(fail("create", to));

        Status r = copy_open(in.get(), out.get(), before->size, from, to, progress);
        // A write during the read may have left a mix of old and new bytes;
        // with the source's time such a copy would never be copied again.
        if (r) {
            auto after = state_of(in.get(), from);
            if (!after)
                r = std::unexpected(after.error());
            else if (!(*after == *before))
                r = std::unexpected(
                    make_error(Errc::changed, "copy", from, "it changed while it was copied"));
        }
        if (r && !::SetFileTime(out.get(), nullptr, nullptr, &info.ftLastWriteTime))
            r = std::unexpected(fail("set time", to));
        // A read-only source makes a read-only copy. The mark keeps nobody
        // from writing through a handle already open, this one included;
        // but once it is closed no flush can open the copy again, so such a
        // copy is flushed now, with its mark.
        const bool read_only = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
        if (r && read_only) r = add_attributes(out.get(), FILE_ATTRIBUTE_READONLY, to);
        if (r && (durable || read_only) && !::FlushFileBuffers(out.get()))
            r = std::unexpected(fail("flush", to));
        if (r && !out.close()) r = std::unexpected(fail("close", to));
        if (!r) {
            if (out.valid()) out.close();
            (void)remove_file(to);
            return std::unexpected(r.error());
        }
        return before;
    }

    // Access control lists come from the directory; the read-only attribute
    // is what a user sets on one file.
    Status copy_permissions(const std::string& from, const std::string& to) override {
        const DWORD f = ::GetFileAttributesW(wpath(from).c_str());
        if (f == INVALID_FILE_ATTRIBUTES) return std::unexpected(fail("stat", from));
        const DWORD t = ::GetFileAttributesW(wpath(to).c_str());
        if (t == INVALID_FILE_ATTRIBUTES) return std::unexpected(fail("stat", to));
        DWORD want =
            (t & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY)) | (f & FILE_ATTRIBUTE_READONLY);
        if (want == 0) want = FILE_ATTRIBUTE_NORMAL;
        if (want != t && !::SetFileAttributesW(wpath(to).c_str(), want))
            return std::unexpected(fail("set permissions", to));
        return {};
    }

    Status set_mtime(const std::string& path, FileTime t) override {
        Handle h(::CreateFileW(wpath(path).c_str(), FILE_WRITE_ATTRIBUTES, kShareAll, nullptr,
                               OPEN_EXISTING,
                               FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!h.valid()) return std::unexpected(fail("set time", path));
        const FILETIME ft = to_filetime(t);
        if (!::SetFileTime(h.get(), nullptr, nullptr, &ft))
            return std::unexpected(fail("set time", path));
        return {};
    }

    // Each file, then each directory that names one. A read-only file
    // cannot be opened to be flushed: the copies that are made read-only
    // were flushed as they were made (copy_file).
    Status flush_files(const std::vector<std::string>& paths) override {
        std::vector<std::string> dirs;
        auto files = each_first_failure(paths, [&](const std::string& path) -> Status {
            if (auto d = parent_of(path); std::find(dirs.begin(), dirs.end(), d) == dirs.end())
                dirs.push_back(std::move(d));
            const std::wstring w = wpath(path);
            Handle h(::CreateFileW(w.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
            if (!h.valid()) {
                const DWORD err = ::GetLastError();
                const DWORD a = ::GetFileAttributesW(w.c_str());
                if (err == ERROR_ACCESS_DENIED && a != INVALID_FILE_ATTRIBUTES &&
                    (a & FILE_ATTRIBUTE_READONLY) && !(a & FILE_ATTRIBUTE_DIRECTORY))
                    return {};
                return std::unexpected(fail("open", path, err));
            }
            if (!::FlushFileBuffers(h.get())) return std::unexpected(fail("flush", path));
            return {};
        });
        auto entries = each_first_failure(dirs, [&](const std::string& d) { return flush_dir(d); });
        return files ? entries : files;
    }

    // Through a handle with leave to add to the directory, which is what a
    // flush asks. A volume that flushes no directories (FAT and exFAT but
    // for the root, some shares) is no failure: there the entries reach the
    // disk with their files' own flushes or when the system writes them.
    Status flush_dir(const std::string& dir) override {
        const std::wstring w = wpath(dir);
        DWORD err = ERROR_SUCCESS;
        // Leave to add files, or else subdirectories: either is enough.
        for (const DWORD access : {DWORD{FILE_ADD_FILE}, DWORD{FILE_ADD_SUBDIRECTORY}}) {
            Handle h(::CreateFileW(w.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
            if (!h.valid()) {
                err = ::GetLastError();
                if (err == ERROR_ACCESS_DENIED) continue;
                break;
            }
            if (::FlushFileBuffers(h.get())) return {};
            err = ::GetLastError();
            break;
        }
        if (win::flushes_no_directories(err)) return {};
        return std::unexpected(fail("flush", dir, err));
    }

    Status rename_replace(const std::string& from, const std::string& to) override {
        const std::wstring wfrom = wpath(from);
        const std::wstring wto = wpath(to);
        // The temporary copy was hidden while written; its final name is not.
        if (is_temp_name(wfrom) && !is_temp_name(wto)) {
            DWORD a = ::GetFileAttributesW(wfrom.c_str());
            if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_HIDDEN))
                ::SetFileAttributesW(wfrom.c_str(), a & ~DWORD(FILE_ATTRIBUTE_HIDDEN));
        }
        const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
        DWORD waited = 0;
        for (;;) {
            if (::MoveFileExW(wfrom.c_str(), wto.c_str(), flags)) {
                keep_spelling(wto);
                return {};
            }
            DWORD err = ::GetLastError();
            // Another process holding the target open (a virus scanner, an
            // indexer, an editor) usually lets go within moments.
            bool transient = err == ERROR_SHARING_VIOLATION || err == ERROR_LOCK_VIOLATION ||
                             (err == ERROR_ACCESS_DENIED && !fixed_refusal(wto));
            if (!transient || waited >= kReplaceRetryMs)
                return std::unexpected(fail("rename", from, err));
            ::Sleep(kReplaceStepMs);
            waited += kReplaceStepMs;
        }
    }

    std::optional<std::string> env(const std::string& name) override {
        const std::wstring wname = widen(name);
        std::wstring buf(256, L'\0');
        for (;;) {
            ::SetLastError(ERROR_SUCCESS);
            DWORD n = ::GetEnvironmentVariableW(wname.c_str(), buf.data(),
                                                static_cast<DWORD>(buf.size()));
            if (n == 0) {
                if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
                return std::string();
            }
            if (n < buf.size()) {
                buf.resize(n);
                return narrow(buf);
            }
            buf.resize(n);
        }
    }

    Result<std::string> program_dir() override {
        std::wstring buf(MAX_PATH, L'\0');
        for (;;) {
            DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
            if (n == 0) return std::unexpected(fail("find program", ""));
            if (n < buf.size()) {
                buf.resize(n);
                break;
            }
            buf.resize(buf.size() * 2);
        }
        if (buf.rfind(L"\\\\?\\", 0) == 0 && buf.rfind(L"\\\\?\\UNC\\", 0) != 0) buf.erase(0, 4);
        auto sep = buf.find_last_of(L"\\/");
        if (sep == std::wstring::npos)
            return std::unexpected(
                make_error(Errc::other, "find program", narrow(buf), "no directory"));
        // Keep the root's separator: "C:\" rather than "C:".
        buf.resize(sep == 2 && buf[1] == L':' ? sep + 1 : sep);
        return narrow(buf);
    }

    Result<std::string> current_dir() override {
        DWORD n = ::GetCurrentDirectoryW(0, nullptr);
        if (n == 0) return std::unexpected(fail("current directory", ""));
        std::wstring buf(n, L'\0');
        DWORD m = ::GetCurrentDirectoryW(n, buf.data());
        if (m == 0 || m >= n) return std::unexpected(fail("current directory", ""));
        buf.resize(m);
        return narrow(buf);
    }

    Status set_current_dir(const std::string& dir) override {
        if (!::SetCurrentDirectoryW(widen(dir).c_str()))
            return std::unexpected(fail("change directory", dir));
        return {};
    }

    std::string temp_dir() override {
        wchar_t buf[MAX_PATH + 2];
        DWORD n = ::GetTempPathW(MAX_PATH + 2, buf);
        if (n == 0 || n > MAX_PATH + 1) return "C:\\";
        std::wstring w(buf, n);
        // The long spelling, so that paths built on it compare as shown.
        DWORD m = ::GetLongPathNameW(w.c_str(), nullptr, 0);
        if (m > 0) {
            std::wstring l(m, L'\0');
            DWORD k = ::GetLongPathNameW(w.c_str(), l.data(), m);
            if (k > 0 && k < m) {
                l.resize(k);
                w = std::move(l);
            }
        }
        while (w.size() > 3 && (w.back() == L'\\' || w.back() == L'/')) w.pop_back();
        return narrow(w);
    }

    std::vector<std::string> volumes() override {
        std::vector<std::string> out;
        wchar_t buf[512];
        DWORD n = ::GetLogicalDriveStringsW(static_cast<DWORD>(std::size(buf)), buf);
        if (n == 0 || n > std::size(buf)) return out;
        for (const wchar_t* p = buf; *p; p += std::wcslen(p) + 1) {
            if (p[0] && p[1] == L':')
                out.push_back(std::string{static_cast<char>(std::towupper(p[0])), ':'});
        }
        std::sort(out.begin(), out.end());
        return out;
    }

    std::string volume_of(const std::string& path) override {
        std::string p = path;
        if (p.rfind("\\\\?\\UNC\\", 0) == 0)
            p = "\\\\" + p.substr(8);
        else if (p.rfind("\\\\?\\", 0) == 0)
            p = p.substr(4);
        if (p.size() >= 2 && p[1] == ':' &&
            ((p[0] >= 'a' && p[0] <= 'z') || (p[0] >= 'A' && p[0] <= 'Z')))
            return std::string{static_cast<char>(p[0] & ~0x20), ':'};
        // A network share: "\\server\share".
        if (p.rfind("\\\\", 0) == 0) {
            auto a = p.find('\\', 2);
            if (a == std::string::npos) return p;
            auto b = p.find('\\', a + 1);
            return b == std::string::npos ? p : p.substr(0, b);
        }
        return "";
    }

    std::string volume_root(const std::string& volume) override { return with_separator(volume); }

    bool volume_ready(const std::string& volume) override {
        // No "insert a disk" box for an empty drive; just the answer.
        DWORD old = 0;
        ::SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old);
        const std::wstring root = widen(volume_root(volume));
        // Each answers "ready" for some drive that is not: the volume's
        // name may come from a cache, a letter with no medium behind it
        // has no root directory.
        const UINT type = ::GetDriveTypeW(root.c_str());
        const bool ok = type != DRIVE_NO_ROOT_DIR && type != DRIVE_UNKNOWN &&
                        ::GetVolumeInformationW(root.c_str(), nullptr, 0, nullptr, nullptr, nullptr,
                                                nullptr, 0) &&
                        ::GetFileAttributesW(root.c_str()) != INVALID_FILE_ATTRIBUTES;
        ::SetThreadErrorMode(old, nullptr);
        return ok;
    }

    LocalTime local_time() override {
        SYSTEMTIME st;
        ::GetLocalTime(&st);
        return {st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
    }

    void sleep_ms(unsigned ms) override { ::Sleep(ms); }

private:
    // Replacing "case.txt" by "Case.txt" leaves "Case.txt" on NTFS; a file
    // system that kept the old spelling is brought in line, so that the
    // next comparison by name finds the file it expects.
    static std::wstring spelling_on_disk(const std::wstring& path) {
        WIN32_FIND_DATAW fd;
        HANDLE h = ::FindFirstFileW(path.c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return {};
        ::FindClose(h);
        return fd.cFileName;
    }

    static void keep_spelling(const std::wstring& to) {
        const std::wstring want = file_part(to);
        const std::wstring have = spelling_on_disk(to);
        if (have.empty() || have == want || have.size() != want.size()) return;
        const std::wstring dir = to.substr(0, to.size() - want.size());
        const std::wstring from = dir + have;
        // Wine takes a rename to another case of the same name as already
        // done, so it goes through a second name.
        const DWORD flags = MOVEFILE_WRITE_THROUGH;
        if (::MoveFileExW(from.c_str(), to.c_str(), flags) && spelling_on_disk(to) == want) return;
        const std::wstring step = dir + L".qm-" + have + L".case";
        if (!::MoveFileExW(from.c_str(), step.c_str(), flags)) return;
        if (!::MoveFileExW(step.c_str(), to.c_str(), flags))
            ::MoveFileExW(step.c_str(), from.c_str(), flags);
    }

    // Adds attributes to the file behind a handle, its times left as they
    // are (zero means unchanged).
    static Status add_attributes(HANDLE h, DWORD add, const std::string& path) {
        FILE_BASIC_INFO basic{};
        if (!::GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic))
            return std::unexpected(fail("set attributes", path));
        basic.CreationTime.QuadPart = basic.LastAccessTime.QuadPart = 0;
        basic.LastWriteTime.QuadPart = basic.ChangeTime.QuadPart = 0;
        basic.FileAttributes = (basic.FileAttributes & ~DWORD(FILE_ATTRIBUTE_NORMAL)) | add;
        if (!::SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic))
            return std::unexpected(fail("set attributes", path));
        return {};
    }

    // Access denied that waiting does not cure: a directory or a read-only
    // file in the way.
    static bool fixed_refusal(const std::wstring& to) {
        DWORD a = ::GetFileAttributesW(to.c_str());
        return a != INVALID_FILE_ATTRIBUTES &&
               (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0;
    }

    static Status copy_open(HANDLE in, HANDLE out, std::uint64_t total, const std::string& from,
                            const std::string& to, const CopyProgress& progress) {
        // Small files need no 4 MiB buffer.
        const std::size_t size =
            static_cast<std::size_t>(std::clamp<std::uint64_t>(total + 1, 64u << 10, kChunk));
        std::unique_ptr<char[]> buf(new char[size]);
        std::uint64_t done = 0;
        for (;;) {
            if (progress && !progress(done, total))
                return std::unexpected(make_error(Errc::cancelled, "copy", from, "cancelled"));
            DWORD n = 0;
            if (!::ReadFile(in, buf.get(), static_cast<DWORD>(size), &n, nullptr))
                return std::unexpected(fail("copy", from));
            if (n == 0) break;
            if (auto w = write_all(out, buf.get(), n, to); !w) return w;
            done += n;
        }
        if (progress) progress(done, total);
        return {};
    }
};

}  // namespace

Error make_error(std::string op, std::string path, long native) {
    Error e;
    e.code = code_of(static_cast<DWORD>(native));
    e.native = native;
    e.op = std::move(op);
    e.path = std::move(path);
    e.reason = reason_of(static_cast<DWORD>(native));
    return e;
}

Os& native() {
    static WindowsOs os;
    return os;
}

char separator() {
    return '\\';
}
std::string placeholder_root() {
    return "C:\\";
}
// The user's temporary directory is the user's own.
std::string own_temp_name() {
    return "Quillmere";
}
bool case_insensitive_names() {
    return true;
}

// Text files in the ANSI code page, as the system's own tools write them;
// where the code page is UTF-8, UTF-8 as it is.
const CodePage& system_code_page() {
    static const CodePage ansi{to_ansi,
                               [](std::string_view bytes) { return narrow(widen(bytes, CP_ACP)); }};
    static const CodePage utf8{
        [](std::string_view text) { return std::optional<std::string>(std::string(text)); },
        [](std::string_view bytes) { return std::string(bytes); }};
    return ::GetACP() == CP_UTF8 ? utf8 : ansi;
}

std::string text_to_file(std::string_view utf8) {
    return encode_text(utf8, system_code_page());
}

std::string text_from_file(std::string_view bytes) {
    return decode_text(bytes, system_code_page());
}

}  // namespace qm::os
