// What the program takes from the operating system, at the level of the
// task ("copy keeping the time", "replace atomically"). One header; the
// backend (posix.cpp or windows.cpp) is chosen by the build. Every call goes
// through the installed Os object, so a test can put a fake in front of any
// operation and make it fail.
//
// Paths are UTF-8 strings in the platform's own form: "\" separators and
// drive letters on Windows, "/" on POSIX.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::os {

enum class Errc {
    not_found,
    exists,
    access,
    busy,
    no_space,
    not_dir,
    is_dir,
    invalid,
    io,
    cancelled,
    changed,  // a file changed while it was read
    other,
};

struct Error {
    Errc code = Errc::other;
    long native = 0;     // errno, or GetLastError() on Windows
    std::string op;      // what was being done: "copy", "rename", ...
    std::string path;    // the path it was done to
    std::string reason;  // the operating system's words

    // "op path: reason"
    [[nodiscard]] std::string message() const;
};

template <class T>
using Result = std::expected<T, Error>;
using Status = std::expected<void, Error>;

// Builds the error for a failed call from the native code.
[[nodiscard]] Error make_error(std::string op, std::string path, long native);
[[nodiscard]] Error make_error(Errc code, std::string op, std::string path, std::string reason);

enum class Kind { file, dir, other };

// Seconds and nanoseconds since 1970-01-01 UTC.
struct FileTime {
    std::int64_t sec = 0;
    std::int32_t nsec = 0;
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

struct DirEntry {
    std::string name;
    Kind kind = Kind::other;
    bool hidden = false;  // POSIX: name starts with "."
    bool system = false;  // POSIX: not a regular file or directory
    // A file's length and modification time: filled by list_dir_detailed.
    std::uint64_t size = 0;
    FileTime mtime;
};

struct FileInfo {
    Kind kind = Kind::other;
    bool hidden = false;
    bool system = false;
    std::uint64_t size = 0;
    FileTime mtime;
    // No write permission for anyone: no write bit in the POSIX mode, the
    // read-only attribute on Windows. Filled by stat.
    bool read_only = false;
};

// Identity of a file or directory, independent of how its path is spelt.
struct FileId {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    friend bool operator==(const FileId&, const FileId&) = default;
};

// One version of one file: which file it is, and its length and times to
// the full precision the system keeps. The change time moves with every
// write and every change of the file's attributes, also one that restores
// the modification time.
struct FileState {
    FileId id;
    std::uint64_t size = 0;
    FileTime mtime;
    FileTime ctime;
    friend bool operator==(const FileState&, const FileState&) = default;
};

struct LocalTime {
    int year = 1970, month = 1, day = 1;
    int hour = 0, minute = 0, second = 0;
    int millisecond = 0;
};

// What a cancelled listing or copy fails with.
[[nodiscard]] Error cancelled(std::string op, std::string path);

// A directory held open while many of its files are copied: its entries
// are reached without walking its whole path again, and it stays the
// directory that was opened if its path comes to name another meanwhile.
// A backend without such handles keeps only the path.
struct OpenDir {
    std::string path;               // as opened, with a final separator
    std::shared_ptr<const int> fd;  // POSIX: the open directory; closed with the last copy
    // Windows: the directory held open without leave to delete or rename
    // it, which pins it and every directory above it to their names.
    std::shared_ptr<void> pin;
};

// Called between chunks of a copy with the bytes done so far; returning
// false cancels the copy.
using CopyProgress = std::function<bool(std::uint64_t done, std::uint64_t total)>;

class Os {
public:
    virtual ~Os() = default;

    // -- directories and their entries --------------------------------
    // Every entry of a directory except "." and "..", in the order the
    // system returns them. Links are reported, never followed.
    [[nodiscard]] virtual Result<std::vector<DirEntry>> list_dir(const std::string& dir) = 0;
    // The same with each file's length and modification time, as stat
    // gives them (other entries may have none); an entry that vanishes
    // meanwhile is left out. between,
    // when given, is called after each entry; returning false cancels
    // (Errc::cancelled). The default stats every entry; a backend may do
    // better.
    [[nodiscard]] virtual Result<std::vector<DirEntry>> list_dir_detailed(
        const std::string& dir, const std::function<bool()>& between);
    // Never follows a link: a link is Kind::other, system.
    [[nodiscard]] virtual Result<FileInfo> stat(const std::string& path) = 0;
    // What the path names, links followed: two spellings of one directory
    // give the same id.
    [[nodiscard]] virtual Result<FileId> identity(const std::string& path) = 0;
    // The version of the file the path names, links not followed.
    [[nodiscard]] virtual Result<FileState> file_state(const std::string& path) = 0;
    [[nodiscard]] virtual bool exists(const std::string& path) = 0;
    // Whether a name exists, links not followed, when the system can tell:
    // false only for a definite "no such file or directory" (POSIX ENOENT,
    // ENOTDIR; Windows file or path not found). Any other failure (no
    // permission, an I/O error, a network that does not answer) is an
    // error: the name may well be there.
    [[nodiscard]] virtual Result<bool> probe(const std::string& path) = 0;
    [[nodiscard]] virtual Status make_dir(const std::string& path) = 0;
    // Creates one directory level with the permission bits of the directory
    // model (POSIX), its owner keeping full access so that it can be
    // filled; it is never more open than model meanwhile. Windows: as
    // make_dir. On failure nothing is left under path.
    [[nodiscard]] virtual Status make_dir_like(const std::string& path,
                                               const std::string& model) = 0;
    // A directory that only this user may enter: created with mode 0700,
    // or taken when it exists as a real directory (no link) owned by this
    // user and closed to everybody else; any other is refused
    // (Errc::access). Windows, where each user's temporary directory is
    // private already: a directory that is not a link.
    [[nodiscard]] virtual Status make_private_dir(const std::string& path) = 0;
    [[nodiscard]] virtual Status remove_file(const std::string& path) = 0;
    // Removes an empty directory.
    [[nodiscard]] virtual Status remove_dir(const std::string& path) = 0;
    // Makes a file or directory hidden. Windows sets the hidden attribute;
    // on POSIX a name is hidden by starting with ".", so this succeeds for
    // such a name and fails (Errc::invalid) for any other.
    [[nodiscard]] virtual Status make_hidden(const std::string& path) = 0;

    // -- whole files ---------------------------------------------------
    [[nodiscard]] virtual Result<std::string> read_file(const std::string& path) = 0;
    // Up to max bytes of a file from offset on; fewer at its end, none past
    // it. Lets a long file be read piece by piece in bounded memory. The
    // default reads the whole file; a backend may do better.
    [[nodiscard]] virtual Result<std::string> read_part(const std::string& path,
                                                        std::uint64_t offset, std::size_t max);
    // Creates or empties the file and writes data; with durable, flushed to
    // disk before returning.
    [[nodiscard]] virtual Status write_file(const std::string& path, std::string_view data,
                                            bool durable) = 0;
    // Creates a new empty file that only this user may read and write
    // (mode 0600); fails with Errc::exists when the name is taken, and never
    // follows a link.
    [[nodiscard]] virtual Status create_private(const std::string& path) = 0;
    // Appends data, creating the file when absent.
    [[nodiscard]] virtual Status append_file(const std::string& path, std::string_view data) = 0;
    // Copies the contents of from into the new file to (which must not
    // exist) and gives it the modification time of from and its permission
    // bits (POSIX; the owner is this process's) or its read-only attribute
    // (Windows, where such a copy is flushed to disk at once); the new file
    // is closed to others until then. With durable, flushed to disk too.
    // Returns the version of from that was copied. A source whose length or
    // times differ after the read from before it fails the copy
    // (Errc::changed) before its time is given to the copy. A source whose
    // contents are not on this computer (Windows: a cloud file kept online
    // only, a file in offline storage) is refused before they are fetched.
    // On failure or cancel nothing is left under to.
    [[nodiscard]] virtual Result<FileState> copy_file(const std::string& from,
                                                      const std::string& to,
                                                      const CopyProgress& progress,
                                                      bool durable) = 0;
    // Opens a directory, links in its path followed. The default keeps the
    // path, which the calls below then use.
    [[nodiscard]] virtual Result<OpenDir> open_dir(const std::string& path);
    // Opens the directory rel below the open directory root (rel in the
    // platform's form, no final separator; empty: root again) without
    // following a link anywhere on the way: a name that was checked to be a
    // directory is the directory used, also when a link has been put in its
    // place since (Errc::not_dir then). The default checks each step by its
    // path.
    [[nodiscard]] virtual Result<OpenDir> open_dir_below(const OpenDir& root,
                                                         const std::string& rel);
    // stat and file_state of an entry of an open directory.
    [[nodiscard]] virtual Result<FileInfo> stat_in(const OpenDir& dir, const std::string& name);
    [[nodiscard]] virtual Result<FileState> file_state_in(const OpenDir& dir,
                                                          const std::string& name);
    // make_dir_like of the entry name of the open directory parent.
    [[nodiscard]] virtual Status make_dir_like_in(const OpenDir& parent, const std::string& name,
                                                  const std::string& model);
    // copy_file of the entry from_name of from into the new entry to_name
    // of to; errors name the whole paths. made, when given, receives the
    // identity of the new file.
    [[nodiscard]] virtual Result<FileState> copy_file_in(const OpenDir& from,
                                                         const std::string& from_name,
                                                         const OpenDir& to,
                                                         const std::string& to_name,
                                                         const CopyProgress& progress, bool durable,
                                                         FileId* made = nullptr);
    // rename_replace of two entries of one directory.
    [[nodiscard]] virtual Status rename_in(const OpenDir& dir, const std::string& from,
                                           const std::string& to);
    // remove_file of an entry of the directory.
    [[nodiscard]] virtual Status remove_in(const OpenDir& dir, const std::string& name);
    // Removes the entry name of dir only while it is the very version
    // expected (Errc::changed otherwise) and no other program has it open
    // (Errc::busy), as far as the system can tell: POSIX holds a write
    // lease from the check to the removal, which no other open file allows
    // and which makes any new open wait; Windows deletes through a handle
    // that shares neither writing nor deleting. The default checks, then
    // removes.
    [[nodiscard]] virtual Status remove_unchanged(const OpenDir& dir, const std::string& name,
                                                  const FileState& expected);
    // Flushes the contents of these files, and the directory entries that
    // name them, to disk; they may be in several directories. A backend may
    // flush whole volumes instead, which costs far less than a flush per
    // file. One that fails does not keep the others from being flushed;
    // the first failure is returned. A read-only file, which Windows does
    // not let be opened to be flushed, counts as flushed: copy_file flushes
    // the copies it makes read-only.
    [[nodiscard]] virtual Status flush_files(const std::vector<std::string>& paths) = 0;
    // Gives to the permission bits of from (POSIX: the mode's permission
    // bits; Windows: the read-only attribute). The owner stays as it is.
    [[nodiscard]] virtual Status copy_permissions(const std::string& from,
                                                  const std::string& to) = 0;
    // Sets a file's modification time.
    [[nodiscard]] virtual Status set_mtime(const std::string& path, FileTime t) = 0;
    // Flushes a directory's entries (a rename or create in it) to disk. On
    // a volume that flushes no directories (FAT and exFAT on Windows) there
    // is nothing more to do, and that is no failure.
    [[nodiscard]] virtual Status flush_dir(const std::string& dir) = 0;
    // Renames from to to in one atomic step, replacing to.
    [[nodiscard]] virtual Status rename_replace(const std::string& from, const std::string& to) = 0;

    // -- process and system -------------------------------------------
    [[nodiscard]] virtual std::optional<std::string> env(const std::string& name) = 0;
    // The directory that holds the executable, without a trailing separator.
    [[nodiscard]] virtual Result<std::string> program_dir() = 0;
    [[nodiscard]] virtual Result<std::string> current_dir() = 0;
    [[nodiscard]] virtual Status set_current_dir(const std::string& dir) = 0;
    // The system's directory for temporary files, without a trailing separator.
    [[nodiscard]] virtual std::string temp_dir() = 0;
    // The program's own directory inside temp_dir(), made private when
    // absent (make_private_dir); refused when it exists but is not private.
    [[nodiscard]] Result<std::string> own_temp_dir();
    // Takes a lock on the file path (created with mode 0600 when absent):
    // shared locks go together, an exclusive one goes alone. Held until the
    // holder returned is released or the process ends. Without wait, an
    // empty holder when another holds a lock that excludes this one.
    [[nodiscard]] virtual Result<std::shared_ptr<void>> lock_file(const std::string& path,
                                                                  bool exclusive, bool wait) = 0;

    // Drives: letters with ":" on Windows ("C:"), mount points on POSIX.
    [[nodiscard]] virtual std::vector<std::string> volumes() = 0;
    // The drive that holds path, in the form volumes() gives.
    [[nodiscard]] virtual std::string volume_of(const std::string& path) = 0;
    // The directory a drive opens at (its root).
    [[nodiscard]] virtual std::string volume_root(const std::string& volume) = 0;
    [[nodiscard]] virtual bool volume_ready(const std::string& volume) = 0;
    // Whether the volume that holds path, or would hold it, is there: its
    // drive present and ready (Windows), or (POSIX) no mount point on the
    // way that the system lists, or that sits where removable volumes are
    // mounted, with no volume mounted on it. A directory missing where no
    // volume is there is not gone: its volume may come back. The default
    // asks volume_ready of the path's drive.
    [[nodiscard]] virtual bool volume_mounted(const std::string& path);

    [[nodiscard]] virtual LocalTime local_time() = 0;
    virtual void sleep_ms(unsigned ms) = 0;
};

// The installed Os; the real backend unless a test installed another.
Os& current();
// The real backend of this build.
Os& native();

// Installs an Os for the lifetime of the object (tests).
class ScopedOs {
public:
    explicit ScopedOs(Os& os);
    ~ScopedOs();
    ScopedOs(const ScopedOs&) = delete;
    ScopedOs& operator=(const ScopedOs&) = delete;

private:
    Os* previous_;
};

// -- facts of the platform, the same for every Os ------------------------

// The directory separator: '\\' on Windows, '/' elsewhere.
char separator();
// The directory that stands in for a pair not yet chosen: "C:\" or "/".
std::string placeholder_root();
// Whether names in a directory are compared without regard to case.
bool case_insensitive_names();
// Appends the separator unless the path already ends in one.
std::string with_separator(std::string path);
// dir joined with name by one separator.
std::string join(const std::string& dir, const std::string& name);
// The length of the root a path starts with, its separator included: "/"
// on POSIX; "C:\" or "\\server\share\" on Windows. 0 for a relative path.
std::size_t root_length(const std::string& path);
// The directory a path names an entry of; a root keeps its separator.
std::string parent_of(const std::string& path);
// The name of the program's own directory inside the temporary directory.
std::string own_temp_name();

// -- text files ---------------------------------------------------------
//
// Text files hold the system's 8-bit text: bytes as they are on POSIX, the
// ANSI code page on Windows. A name is never stored changed: a Windows text
// file that holds a character its code page lacks is UTF-8 as a whole,
// behind a byte-order mark, and read so. The program works in UTF-8.

// The UTF-8 byte-order mark that marks such a file.
inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// An 8-bit code page as text files use it.
struct CodePage {
    // UTF-8 text in the code page; nothing when a character of it is not
    // in the code page as itself (a look-alike or the default character
    // would change a name), that is, when the bytes would not read back as
    // exactly this text.
    std::function<std::optional<std::string>(std::string_view utf8)> encode;
    // Bytes in the code page as UTF-8.
    std::function<std::string(std::string_view bytes)> decode;
};

// The system's: the ANSI code page on Windows, bytes as they are on POSIX.
const CodePage& system_code_page();

// The bytes of a text file that holds utf8: the code page's when all of
// it fits, else the byte-order mark and utf8.
std::string encode_text(std::string_view utf8, const CodePage& cp);
// The text a file's bytes hold: UTF-8 after a byte-order mark, else the
// code page's.
std::string decode_text(std::string_view bytes, const CodePage& cp);
// utf8 with every character the code page lacks written as "<U+XXXX>",
// which fits any code page and which no Windows name can hold itself.
std::string escape_outside(std::string_view utf8, const CodePage& cp);

// encode_text and decode_text with the system's code page; on POSIX bytes
// as they are, without a look for a byte-order mark.
std::string text_to_file(std::string_view utf8);
std::string text_from_file(std::string_view bytes);

// Appends lines of text to the text file path (created when absent) in the
// one encoding the whole file has: UTF-8 to a file that starts with the
// byte-order mark, else the code page while the text fits it. A new or
// empty file whose first text does not fit starts with the mark. An 8-bit
// file that gets text that does not fit is first converted whole to UTF-8
// with the mark: written beside it as path + ".tmp", flushed, and renamed
// into its place; it is never replaced when read-only. When that fails the
// file stays as it was and gets the text with escape_outside.
Status append_text(const std::string& path, std::string_view utf8,
                   const CodePage& cp = system_code_page());

// Runs step for every item, also for those after one that fails, and
// returns the first failure: a flush of many files must not stop at one.
Status each_first_failure(const std::vector<std::string>& items,
                          const std::function<Status(const std::string&)>& step);

// Whether path is at or below a mount point that holds no volume now:
// one of listed (the system's table of volumes to mount), or one in a
// place where removable volumes are mounted ("/media/NAME",
// "/media/USER/NAME", "/run/media/USER/NAME", "/mnt/NAME"), that is not
// among mounted. POSIX paths; what volume_mounted decides by.
bool below_missing_mount(const std::string& path, const std::vector<std::string>& listed,
                         const std::vector<std::string>& mounted);

// Pseudo-random numbers, seeded from the time of day.
class Random {
public:
    void seed_from_time_of_day();
    // Uniform in 0 .. n-1.
    int below(int n);

private:
    std::uint64_t state_ = 0x853c49e6748fea9bULL;
};

}  // namespace qm::os
