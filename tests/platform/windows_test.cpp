// What only the Windows backend does: attributes, names without case,
// sharing, long paths, wide names, drive letters, the ANSI code page.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/platform.h"
#include "platform/windows_entries.h"
#include "support/tempdir.h"

namespace qm::test {
namespace {

os::Os& sys() {
    return os::native();
}

std::wstring wide(const std::string& s) {
    int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::wstring w(static_cast<std::size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
    return w;
}

const os::DirEntry* entry(const std::vector<os::DirEntry>& list, const std::string& name) {
    auto it = std::find_if(list.begin(), list.end(), [&](const auto& e) { return e.name == name; });
    return it == list.end() ? nullptr : &*it;
}

// A directory opened below another is pinned: while it is held it cannot
// be renamed, so a link cannot take its place (Windows pins the directories
// above it too; Wine does not); a file on the way is refused.
TEST(Windows, ADirectoryOpenedBelowAnotherIsPinnedToItsName) {
    TempDir d;
    mkdirs(d / "root/a/b");
    write(d / "root/file.txt", "x");
    auto root = sys().open_dir(d / "root");
    ASSERT_TRUE(root) << root.error().message();
    {
        auto b = sys().open_dir_below(*root, "a\\b");
        ASSERT_TRUE(b) << b.error().message();
        EXPECT_EQ(b->path, (d / "root/a/b") + "\\");
        EXPECT_FALSE(MoveFileExW(wide(d / "root/a/b").c_str(), wide(d / "root/a/c").c_str(), 0));
        EXPECT_TRUE(exists(d / "root/a/b"));
    }
    auto file = sys().open_dir_below(*root, "file.txt");
    ASSERT_FALSE(file);
    EXPECT_EQ(file.error().code, os::Errc::not_dir);
    // Let go, it can be renamed again.
    EXPECT_TRUE(MoveFileExW(wide(d / "root/a/b").c_str(), wide(d / "root/a/c").c_str(), 0));
}

TEST(Windows, HiddenAndSystemComeFromTheAttributes) {
    TempDir dir;
    write(dir / "h.txt", "h");
    write(dir / "s.txt", "s");
    write(dir / "both.txt", "b");
    write(dir / ".dotted", "d");
    mkdirs(dir / "hdir");
    ASSERT_TRUE(SetFileAttributesW(wide(dir / "h.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SetFileAttributesW(wide(dir / "s.txt").c_str(), FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(wide(dir / "both.txt").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM));
    ASSERT_TRUE(SetFileAttributesW(wide(dir / "hdir").c_str(),
                                   FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_DIRECTORY));
    auto list = sys().list_dir(dir.path());
    ASSERT_TRUE(list);
    ASSERT_EQ(list->size(), 5u);
    const auto *h = entry(*list, "h.txt"), *s = entry(*list, "s.txt"),
               *b = entry(*list, "both.txt"), *d = entry(*list, ".dotted"),
               *hd = entry(*list, "hdir");
    ASSERT_TRUE(h && s && b && d && hd);
    EXPECT_TRUE(h->hidden);
    EXPECT_FALSE(h->system);
    EXPECT_FALSE(s->hidden);
    EXPECT_TRUE(s->system);
    EXPECT_TRUE(b->hidden && b->system);
    EXPECT_EQ(s->kind, os::Kind::file);
    // A leading dot means nothing here.
    EXPECT_FALSE(d->hidden);
    EXPECT_EQ(hd->kind, os::Kind::dir);
    EXPECT_TRUE(hd->hidden);

    auto st = sys().stat(dir / "both.txt");
    ASSERT_TRUE(st);
    EXPECT_TRUE(st->hidden && st->system);
    EXPECT_EQ(st->kind, os::Kind::file);
    EXPECT_FALSE(sys().stat(dir / ".dotted")->hidden);

    // A hidden file can be rewritten in place and keeps its attribute.
    ASSERT_TRUE(sys().write_file(dir / "h.txt", "again", false));
    EXPECT_EQ(read(dir / "h.txt"), "again");
    EXPECT_TRUE(sys().stat(dir / "h.txt")->hidden);
}

TEST(Windows, NamesAreFoundWhateverTheirCase) {
    TempDir dir;
    write(dir / "BATCH.INI", "[batch]\r\n");
    EXPECT_TRUE(os::case_insensitive_names());
    EXPECT_TRUE(exists(dir / "batch.ini"));
    EXPECT_EQ(read(dir / "batch.ini"), "[batch]\r\n");
    auto a = sys().identity(dir / "BATCH.INI");
    auto b = sys().identity(dir / "Batch.Ini");
    ASSERT_TRUE(a && b);
    EXPECT_EQ(*a, *b);
    // Writing through another spelling keeps the one file and its name.
    ASSERT_TRUE(sys().write_file(dir / "batch.ini", "[batch]\r\nSubs:YES\r\n", true));
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"BATCH.INI"});
    EXPECT_EQ(read(dir / "BATCH.INI"), "[batch]\r\nSubs:YES\r\n");
}

TEST(Windows, ReplacingUnderAnotherCaseLeavesTheNewSpelling) {
    TempDir dir;
    write(dir / "new", "case");
    write(dir / "case.txt", "other");
    ASSERT_TRUE(sys().rename_replace(dir / "new", dir / "Case.txt"));
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{"Case.txt"});
    EXPECT_EQ(read(dir / "Case.txt"), "case");
}

TEST(Windows, ReplacingATargetHeldOpenIsRetriedThenReported) {
    TempDir dir;
    write(dir / "new", "new");
    write(dir / "held", "old");
    HANDLE h = CreateFileW(wide(dir / "held").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const auto start = std::chrono::steady_clock::now();
    auto r = sys().rename_replace(dir / "new", dir / "held");
    const auto waited = std::chrono::steady_clock::now() - start;
    CloseHandle(h);
    ASSERT_FALSE(r);
    EXPECT_TRUE(r.error().code == os::Errc::busy || r.error().code == os::Errc::access)
        << r.error().message();
    EXPECT_EQ(r.error().op, "rename");
    EXPECT_FALSE(r.error().reason.empty());
    // It waited for the other process before giving up.
    EXPECT_GE(waited, std::chrono::milliseconds(1500));
    EXPECT_EQ(read(dir / "held"), "old");
    EXPECT_EQ(read(dir / "new"), "new");
}

TEST(Windows, ATargetLetGoDuringTheRetryIsReplaced) {
    TempDir dir;
    write(dir / "new", "new");
    write(dir / "held", "old");
    HANDLE h = CreateFileW(wide(dir / "held").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                           OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    std::thread release([h] {
        Sleep(300);
        CloseHandle(h);
    });
    auto r = sys().rename_replace(dir / "new", dir / "held");
    release.join();
    ASSERT_TRUE(r) << r.error().message();
    EXPECT_EQ(read(dir / "held"), "new");
    EXPECT_FALSE(exists(dir / "new"));
}

TEST(Windows, PathsLongerThanMaxPathWork) {
    TempDir dir;
    std::string p = dir.path();
    std::vector<std::wstring> made;
    // The test tools cannot remove a tree this deep; take it down here.
    struct Cleanup {
        std::vector<std::wstring>& dirs;
        ~Cleanup() {
            for (auto it = dirs.rbegin(); it != dirs.rend(); ++it) RemoveDirectoryW(it->c_str());
        }
    } cleanup{made};
    int level = 0;
    while (p.size() < 300) {
        p = os::join(p, std::string(40, static_cast<char>('a' + level++)));
        auto m = sys().make_dir(p);
        ASSERT_TRUE(m) << m.error().message();
        made.push_back(L"\\\\?\\" + wide(p));
    }
    const std::string file = os::join(p, "long-name-file.txt");
    ASSERT_GT(file.size(), 300u);
    ASSERT_TRUE(sys().write_file(file, "deep", true));
    ASSERT_TRUE(sys().append_file(file, "er"));
    EXPECT_EQ(read(file), "deeper");
    ASSERT_TRUE(sys().set_mtime(file, {1'600'000'000, 0}));
    auto st = sys().stat(file);
    ASSERT_TRUE(st);
    EXPECT_EQ(st->size, 6u);
    EXPECT_EQ(st->mtime.sec, 1'600'000'000);
    ASSERT_TRUE(sys().copy_file(file, os::join(p, "copy.txt"), nullptr, true));
    EXPECT_EQ(sys().stat(os::join(p, "copy.txt"))->mtime.sec, 1'600'000'000);
    ASSERT_TRUE(sys().rename_replace(os::join(p, "copy.txt"), file));
    EXPECT_EQ(names(p), std::vector<std::string>{"long-name-file.txt"});
    EXPECT_TRUE(sys().identity(file));
    EXPECT_EQ(sys().volume_of(file), sys().volume_of(dir.path()));
    ASSERT_TRUE(sys().remove_file(file));
    EXPECT_FALSE(exists(file));
}

TEST(Windows, NonAsciiNamesRoundTrip) {
    TempDir dir;
    const std::string name =
        "Gr\xc3\xbc\xc3\x9f"
        "e-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x93\x81.txt";
    write(dir / name, "x");
    EXPECT_EQ(names(dir.path()), std::vector<std::string>{name});
    EXPECT_EQ(read(dir / name), "x");
    // The name on disk is the UTF-16 form of the UTF-8 one.
    EXPECT_NE(GetFileAttributesW(
                  (wide(dir.path()) + L"\\Gr\u00fc\u00dfe-\u65e5\u672c-\U0001F4C1.txt").c_str()),
              INVALID_FILE_ATTRIBUTES);
    ASSERT_TRUE(sys().copy_file(dir / name, dir / ("\xc3\xa9t\xc3\xa9.txt"), nullptr, true));
    auto list = sys().list_dir(dir.path());
    ASSERT_TRUE(list);
    EXPECT_TRUE(entry(*list, "\xc3\xa9t\xc3\xa9.txt"));
}

TEST(Windows, DriveLettersAndTheirRoots) {
    EXPECT_EQ(os::separator(), '\\');
    EXPECT_EQ(os::placeholder_root(), "C:\\");
    EXPECT_EQ(sys().volume_of("c:\\Users\\x"), "C:");
    EXPECT_EQ(sys().volume_of("Z:\\"), "Z:");
    EXPECT_EQ(sys().volume_root("D:"), "D:\\");
    auto vols = sys().volumes();
    ASSERT_FALSE(vols.empty());
    EXPECT_NE(std::find(vols.begin(), vols.end(), "C:"), vols.end());
    for (const auto& v : vols) {
        EXPECT_EQ(v.size(), 2u);
        EXPECT_TRUE(v[0] >= 'A' && v[0] <= 'Z' && v[1] == ':') << v;
    }
    EXPECT_TRUE(sys().volume_ready("C:"));
    // A letter with no drive behind it.
    for (char c = 'Y'; c > 'D'; --c) {
        std::string v{c, ':'};
        if (std::find(vols.begin(), vols.end(), v) == vols.end()) {
            EXPECT_FALSE(sys().volume_ready(v)) << v;
            break;
        }
    }
    auto prog = sys().program_dir();
    ASSERT_TRUE(prog);
    EXPECT_EQ((*prog)[1], ':');
    const std::string tmp = sys().temp_dir();
    EXPECT_NE(tmp.back(), '\\');
}

TEST(Windows, TextFilesUseTheAnsiCodePage) {
    const std::string utf8 = "Source:C:\\Caf\xc3\xa9\r\n";
    const std::string bytes = os::text_to_file(utf8);
    EXPECT_EQ(os::text_from_file(bytes), utf8);
    if (GetACP() == 1252) {
        EXPECT_EQ(bytes, "Source:C:\\Caf\xe9\r\n");
    }
    // A name the code page lacks is never changed, neither to a look-alike
    // ("Łódź" to "Lodz", which may name another directory) nor to the
    // default character: the whole file is UTF-8 behind the mark instead.
    const std::string batch =
        "[batch]\r\nSource:C:\\qa\\uni\\\xc5\x81\xc3\xb3\x64\xc5\xba\r\n"
        "Target:C:\\Caf\xc3\xa9\r\nSubs:YES\r\n";
    EXPECT_EQ(os::text_to_file(batch), "\xef\xbb\xbf" + batch);
    EXPECT_EQ(os::text_from_file(os::text_to_file(batch)), batch);
    // Errors carry the system's words and code.
    auto e = sys().read_file("C:\\surely\\not\\here.txt");
    ASSERT_FALSE(e);
    EXPECT_EQ(e.error().code, os::Errc::not_found);
    EXPECT_EQ(e.error().native, static_cast<long>(ERROR_PATH_NOT_FOUND));
    EXPECT_FALSE(e.error().reason.empty());
}

// The ANSI code page as it is (1252 under Wine with an English locale):
// what fits is the very bytes the program always wrote; anything else, also
// what the system would map to a look-alike, does not fit.
TEST(Windows, OnlyCharactersOfTheCodePageAsThemselvesFitIt) {
    if (GetACP() != 1252) GTEST_SKIP() << "the cases are those of code page 1252, not " << GetACP();
    const auto& cp = os::system_code_page();
    EXPECT_EQ(cp.encode("C:\\qa\\c\xc3\xadl \xe2\x82\xac"
                        "5"),
              "C:\\qa\\c\xedl \x80"
              "5");
    for (const char* lacking : {
             "\xc5\x81ukasz",             // Ł, which the system fits as L
             "\xc5\xba",                  // ź, as z
             "\xe6\x97\xa5\xe6\x9c\xac",  // 日本
             "\xf0\x9f\x98\x80",          // 😀, two UTF-16 units
             "\xe2\x88\x9e",              // ∞, as 8
             "\xef\xbc\xa1",              // a full-width A, as A
             "\xc3\x28",                  // no UTF-8
         })
        EXPECT_FALSE(cp.encode(std::string("a-") + lacking)) << lacking;
    // Every byte of 1252 reads as the same character it is written from.
    for (int b = 0x20; b < 0x100; ++b) {
        const std::string byte(1, static_cast<char>(b));
        const std::string text = cp.decode(byte);
        EXPECT_EQ(cp.encode(text), byte) << b;
    }
    EXPECT_EQ(os::text_from_file("Target:C:\\c\xedl\r\n"), "Target:C:\\c\xc3\xadl\r\n");
}

// syncfile.log with the system's code page: an 8-bit log is converted at
// the first name the code page lacks, and every name then reads back.
TEST(Windows, AnAnsiLogTakesANameOutsideTheCodePageByTurningUtf8) {
    if (GetACP() != 1252) GTEST_SKIP() << "the cases are those of code page 1252, not " << GetACP();
    TempDir d;
    const std::string log = d / "syncfile.log";
    const std::string name =
        "ro-\xc5\x81\xc3\xb3\x64\xc5\xba-\xe6\x97\xa5\xe6\x9c\xac-\xf0\x9f\x98\x80.txt";
    ASSERT_TRUE(os::append_text(log, "01-02-2026/03:04:05- C:\\caf\xc3\xa9: 1 files\r\n"));
    EXPECT_EQ(read(log), "01-02-2026/03:04:05- C:\\caf\xe9: 1 files\r\n");
    ASSERT_TRUE(os::append_text(log, "C:\\t\\" + name + ": not replaced\r\n"));
    EXPECT_EQ(read(log),
              "\xef\xbb\xbf"
              "01-02-2026/03:04:05- C:\\caf\xc3\xa9: 1 files\r\nC:\\t\\" +
                  name + ": not replaced\r\n");
    EXPECT_EQ(names(d.path()), std::vector<std::string>{"syncfile.log"});
}

TEST(Windows, TheReadOnlyAttributeMarksAFileReadOnly) {
    TempDir d;
    const std::string p = d / "f.txt";
    write(p, "x");
    EXPECT_FALSE(sys().stat(p)->read_only);
    ASSERT_TRUE(SetFileAttributesW(wide(p).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(sys().stat(p)->read_only);
    ASSERT_TRUE(SetFileAttributesW(wide(p).c_str(), FILE_ATTRIBUTE_NORMAL));
}

TEST(Windows, PrivateDirectoriesAndFilesAreNewOrOurOwn) {
    TempDir d;
    const std::string own = d / os::own_temp_name();
    ASSERT_TRUE(sys().make_private_dir(own));
    EXPECT_TRUE(sys().make_private_dir(own)) << "taken again";
    write(d / "file", "x");
    EXPECT_EQ(sys().make_private_dir(d / "file").error().code, os::Errc::access);
    const std::string list = own + "\\01234567.DIR";
    ASSERT_TRUE(sys().create_private(list));
    EXPECT_EQ(sys().create_private(list).error().code, os::Errc::exists);
    // Written in UTF-8 and read back piece by piece, whatever the code page.
    const std::string line = "C:\\Users\\\xC5\x81ukasz\\\xE6\x97\xA5\xE6\x9C\xAC\r\n";
    ASSERT_TRUE(sys().append_file(list, line));
    EXPECT_EQ(sys().read_part(list, 0, 5).value(), line.substr(0, 5));
    EXPECT_EQ(sys().read_part(list, 5, 1000).value(), line.substr(5));
    remove_tree(own);
}

TEST(WindowsFiles, TheReadOnlyAttributeIsReadOnlyAndIsCopied) {
    TempDir t;
    write(t / "from", "f");
    write(t / "to", "t");
    ASSERT_TRUE(SetFileAttributesW(wide(t / "from").c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(sys().stat(t / "from").value().read_only);
    ASSERT_TRUE(sys().copy_permissions(t / "from", t / "to"));
    EXPECT_TRUE(sys().stat(t / "to").value().read_only);
    ASSERT_TRUE(SetFileAttributesW(wide(t / "from").c_str(), FILE_ATTRIBUTE_NORMAL));
    ASSERT_TRUE(sys().copy_permissions(t / "from", t / "to"));
    EXPECT_FALSE(sys().stat(t / "to").value().read_only);
}

TEST(WindowsFiles, ALookUpThatFailsOtherwiseIsNoAbsence) {
    TempDir t;
    // Not a name the system can look up: that is no answer that it is absent.
    const auto r = sys().probe(t / "a|b");
    ASSERT_FALSE(r) << "answered " << (r && *r ? "present" : "absent");
    EXPECT_NE(r.error().message().find("look up"), std::string::npos);
}

// -- reparse points, placeholders, directory flushes ---------------------------

// The system's bits, spelt out: the headers lack the newer ones.
constexpr DWORD kRecallOnOpen = 0x40000, kRecallOnDataAccess = 0x400000, kPinned = 0x80000,
                kUnpinned = 0x100000;
constexpr DWORD kFile = FILE_ATTRIBUTE_ARCHIVE, kDir = FILE_ATTRIBUTE_DIRECTORY,
                kReparse = FILE_ATTRIBUTE_REPARSE_POINT;

TEST(WindowsEntries, OnlySymbolicLinksJunctionsAndOtherNamesAreLinks) {
    using os::win::Entry;
    using os::win::entry_of;
    EXPECT_EQ(entry_of(kFile, 0), Entry::file);
    EXPECT_EQ(entry_of(FILE_ATTRIBUTE_NORMAL, 0), Entry::file);
    EXPECT_EQ(entry_of(kFile | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN, 0), Entry::file);
    EXPECT_EQ(entry_of(kDir, 0), Entry::dir);
    EXPECT_EQ(entry_of(FILE_ATTRIBUTE_DEVICE, 0), Entry::other);
    // Links, to files and to directories, and mount points.
    EXPECT_EQ(entry_of(kFile | kReparse, IO_REPARSE_TAG_SYMLINK), Entry::link);
    EXPECT_EQ(entry_of(kDir | kReparse, IO_REPARSE_TAG_SYMLINK), Entry::link);
    EXPECT_EQ(entry_of(kDir | kReparse, IO_REPARSE_TAG_MOUNT_POINT), Entry::link);
    // A link as the Linux subsystem makes it: a tag that stands for
    // another name.
    EXPECT_EQ(entry_of(kFile | kReparse, 0xA000001D), Entry::link);
    // A tag that could not be read (Wine gives none for its directory
    // links): taken for a link.
    EXPECT_EQ(entry_of(kDir | kReparse, 0), Entry::link);
    EXPECT_EQ(entry_of(kFile | kReparse, 0), Entry::link);
    // A socket is no file to copy.
    EXPECT_EQ(entry_of(kFile | kReparse, IO_REPARSE_TAG_AF_UNIX), Entry::other);

    // Files whose data the system keeps its own way are files: deduplicated
    // on a server, compressed by the system, kept by a cloud or by
    // hierarchical storage.
    const DWORD sparse = FILE_ATTRIBUTE_SPARSE_FILE;
    EXPECT_EQ(entry_of(kFile | kReparse | sparse, IO_REPARSE_TAG_DEDUP), Entry::file);
    EXPECT_EQ(entry_of(kFile | kReparse, IO_REPARSE_TAG_WOF), Entry::file);
    EXPECT_EQ(entry_of(kFile | kReparse | kPinned, IO_REPARSE_TAG_CLOUD), Entry::file);
    EXPECT_EQ(entry_of(kFile | kReparse, 0x9000301A), Entry::file) << "a cloud's own kind";
    EXPECT_EQ(entry_of(kFile | kReparse | kRecallOnDataAccess, IO_REPARSE_TAG_CLOUD), Entry::file);
    EXPECT_EQ(entry_of(kFile | kReparse | FILE_ATTRIBUTE_OFFLINE, 0xC0000004), Entry::file);
    // A folder kept by a cloud is a folder.
    EXPECT_EQ(entry_of(kDir | kReparse | kRecallOnOpen, IO_REPARSE_TAG_CLOUD), Entry::dir);
    EXPECT_EQ(entry_of(kDir | kReparse, 0x9000301A), Entry::dir);
    // A tag read when no reparse point is marked means nothing.
    EXPECT_EQ(entry_of(kFile, IO_REPARSE_TAG_SYMLINK), Entry::file);
}

TEST(WindowsEntries, ContentsLeftInTheCloudOrOfflineAreElsewhere) {
    using os::win::contents_elsewhere;
    EXPECT_TRUE(contents_elsewhere(kFile | kReparse | kRecallOnDataAccess | kUnpinned));
    EXPECT_TRUE(contents_elsewhere(kFile | kReparse | kRecallOnOpen));
    EXPECT_TRUE(contents_elsewhere(kFile | FILE_ATTRIBUTE_OFFLINE));
    // Downloaded, or kept on this device: here.
    EXPECT_FALSE(contents_elsewhere(kFile | kReparse));
    EXPECT_FALSE(contents_elsewhere(kFile | kReparse | kPinned));
    EXPECT_FALSE(contents_elsewhere(kFile | FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SPARSE_FILE));
    EXPECT_FALSE(contents_elsewhere(FILE_ATTRIBUTE_NORMAL));
}

// Runs a Linux program under Wine, which starts them too, on paths given
// in Windows form; false where there is none (on Windows).
bool run_unix(const wchar_t* program, const std::wstring& options,
              const std::vector<std::string>& paths) {
    using UnixName = char*(CDECL*)(const wchar_t*);
    auto unix_name = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!unix_name || GetFileAttributesW(program) == INVALID_FILE_ATTRIBUTES) return false;
    std::wstring cmd = L"x " + options;
    for (const auto& p : paths) {
        char* u = unix_name(wide(p).c_str());
        if (!u) return false;
        cmd += L" " + wide(u);
        HeapFree(GetProcessHeap(), 0, u);
    }
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(program, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si,
                        &pi))
        return false;
    WaitForSingleObject(pi.hProcess, 10000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
    return true;
}

// A link to a directory: by the system's call where it makes one, and under
// Wine, whose call makes none, by ln. Removed again at the end.
class DirLink {
public:
    DirLink(const std::string& link, const std::string& target) : link_(link) {
        if (CreateSymbolicLinkW(
                wide(link).c_str(), wide(target).c_str(),
                SYMBOLIC_LINK_FLAG_DIRECTORY | SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE) &&
            made())
            return;
        // Wine's Linux programs run beside it: the link shows a moment later.
        if (run_unix(L"Z:\\bin\\ln", L"-s", {target, link}))
            for (int i = 0; i < 50 && !made(); ++i) Sleep(20);
    }
    ~DirLink() {
        if (!RemoveDirectoryW(wide(link_).c_str())) run_unix(L"Z:\\bin\\rm", L"-f", {link_});
    }
    DirLink(const DirLink&) = delete;
    DirLink& operator=(const DirLink&) = delete;
    // The name is there, as a reparse point that leads somewhere.
    bool made() const {
        const std::wstring w = wide(link_);
        WIN32_FIND_DATAW fd;
        HANDLE h = FindFirstFileW(w.c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE) return false;
        FindClose(h);
        return (fd.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
               GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES;
    }

private:
    std::string link_;
};

// Telling links by their tags leaves a link to a directory a link, however
// it shows: listed and looked at as one, never opened on the way.
TEST(WindowsFiles, ALinkToADirectoryIsNoDirectory) {
    TempDir t;
    mkdirs(t / "real/inside");
    DirLink link(t / "link", t / "real");
    if (!link.made()) GTEST_SKIP() << "no link can be made here";
    for (const auto& list : {sys().list_dir(t.path()), sys().list_dir_detailed(t.path(), {})}) {
        ASSERT_TRUE(list);
        const auto* e = entry(*list, "link");
        ASSERT_TRUE(e);
        EXPECT_EQ(e->kind, os::Kind::other);
        EXPECT_TRUE(e->system);
        EXPECT_EQ(entry(*list, "real")->kind, os::Kind::dir);
    }
    const auto st = sys().stat(t / "link");
    ASSERT_TRUE(st);
    EXPECT_EQ(st->kind, os::Kind::other);
    EXPECT_TRUE(st->system);
    auto root = sys().open_dir(t.path());
    ASSERT_TRUE(root);
    for (const char* rel : {"link", "link\\inside"}) {
        const auto below = sys().open_dir_below(*root, rel);
        ASSERT_FALSE(below) << rel;
        EXPECT_EQ(below.error().code, os::Errc::not_dir) << below.error().message();
    }
    EXPECT_TRUE(sys().open_dir_below(*root, "real\\inside"));
}

TEST(WindowsEntries, AVolumeThatFlushesNoDirectoriesIsToldFromAFailure) {
    using os::win::flushes_no_directories;
    // FAT and exFAT flush no directory but the root; shares may refuse.
    for (DWORD e : {ERROR_INVALID_FUNCTION, ERROR_INVALID_PARAMETER, ERROR_NOT_SUPPORTED,
                    ERROR_ACCESS_DENIED})
        EXPECT_TRUE(flushes_no_directories(e)) << e;
    // Gone, pulled out, failing: the entries may well not be on the disk.
    for (DWORD e : {ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_NOT_READY, ERROR_IO_DEVICE,
                    ERROR_DEV_NOT_EXIST, ERROR_SHARING_VIOLATION, ERROR_DISK_FULL})
        EXPECT_FALSE(flushes_no_directories(e)) << e;
}

// Wine flushes a directory opened with leave to write to it; a directory
// that cannot be opened is not reported flushed.
TEST(WindowsFiles, ADirectoryIsFlushedOrTheFailureSaid) {
    TempDir t;
    mkdirs(t / "d/sub");
    write(t / "d/f.txt", "f");
    EXPECT_TRUE(sys().flush_dir(t / "d"));
    EXPECT_TRUE(sys().flush_dir(t / "d/sub\\"));
    // Held open by others, it is flushed all the same.
    auto held = sys().open_dir_below(*sys().open_dir(t.path()), "d");
    ASSERT_TRUE(held);
    EXPECT_TRUE(sys().flush_dir(t / "d"));
    const auto gone = sys().flush_dir(t / "gone");
    ASSERT_FALSE(gone);
    EXPECT_EQ(gone.error().code, os::Errc::not_found) << gone.error().message();
    EXPECT_EQ(gone.error().op, "flush");
    // The files of a batch take their directories with them.
    EXPECT_TRUE(sys().flush_files({t / "d/f.txt"}));
    EXPECT_FALSE(sys().flush_files({t / "gone/f.txt"}));
}

}  // namespace
}  // namespace qm::test
