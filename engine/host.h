// What the replication engine needs of the window. The engine reads the
// directories itself and hands the window what it read, to be shown; it
// reads only the pair each entry names, whatever the pickers show. It
// reads its options from the check marks at the moment of use, and shows
// its progress; Form1 implements this.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace qm::engine {

enum class Side { source, target };

// A directory pair as a batch entry names it.
struct Pair {
    std::string source, target;
};
enum class Option { confirm, move, subs, log };  // CC, Movefiles, Subs, Check2

// A file's length and time as a read of its directory found them.
struct FileStamp {
    std::uint64_t size = 0;
    os::FileTime mtime;
};

// The files a file list shows, from one read of its directory, in the
// order listed_before gives. Never changed once made: a run keeps the one
// it works through while the list reads again.
struct FileListing {
    // The read's own entries, moved into list order rather than copied: a
    // directory of many files is held once.
    std::vector<os::DirEntry> entries;

    std::size_t size() const { return entries.size(); }
    const std::string& name(std::size_t i) const { return entries[i].name; }
    FileStamp stamp(std::size_t i) const { return {entries[i].size, entries[i].mtime}; }
    std::vector<std::string> names() const;
};

// The order of a file list: letters compared without their case, then the
// shorter first, then byte by byte, so that no two names are equivalent.
bool listed_before(const std::string& a, const std::string& b);
// A name's first eight bytes, folded as listed_before folds them, as one
// number: where two keys differ, they order their names as listed_before
// does (no name holds a zero byte to tie with a shorter one's padding).
std::uint64_t listed_key(const std::string& name);

// What one read of a directory found, as a file list shows it.
struct DirRead {
    // Nothing read yet of path.
    static DirRead at(std::string path) {
        DirRead r;
        r.path = std::move(path);
        return r;
    }
    std::string path;
    // The regular files neither hidden nor system, in list order.
    std::shared_ptr<const FileListing> files = std::make_shared<FileListing>();
    // The regular files left out for being hidden.
    std::vector<std::string> hidden;
    // What a directory list shows below it, unsorted.
    std::vector<std::string> subdirectories;
    // Why the read failed; the lists are then empty.
    std::optional<os::Error> error;
};

// The file loop's bar: hidden, or at value of 0..max.
struct Progress {
    bool visible = false;
    int value = 0;
    int max = 1;
};

// What a run shows as busy: the hourglass while the tree is listed, the
// window's controls resting for the whole run.
enum class Busy { listing, run };

class Host {
public:
    virtual ~Host() = default;

    // -- showing what the run reads and does
    // The drive selectors at the pair's drives.
    virtual void showDrives(const Pair& pair) = 0;
    // A directory tree open at path, with the subdirectories a read found.
    virtual void showTree(Side side, const std::string& path,
                          const std::vector<std::string>& subdirectories) = 0;
    // A file list: one read of a directory, or, unread, only its path.
    virtual void showFiles(Side side, const DirRead& read) = 0;
    // The count texts above the lists (Text1/Text2).
    virtual void showCounts(const std::string& source, const std::string& target) = 0;
    virtual void showProgress(const Progress& progress) = 0;
    virtual void showBusy(Busy what, bool on) = 0;

    // -- options: the menu's marks and the log's check box
    virtual bool checked(Option option) = 0;
    virtual void setSubsChecked(bool on) = 0;

    // -- services
    virtual void yield() = 0;
    // Yes/No question titled "Question"; true for Yes.
    virtual bool ask(const std::string& text) = 0;
    // A notice titled "Information", with an OK button only.
    virtual void inform(const std::string& text) = 0;
    virtual void pause(unsigned ms) = 0;
    virtual os::LocalTime now() = 0;
    // The program is ending: stop the run at once, leaving nothing half done.
    virtual bool ending() = 0;
};

}  // namespace qm::engine
