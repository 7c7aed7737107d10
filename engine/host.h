// What the replication engine needs of the window. The engine is handed
// the directory pair of each entry and shows it in the pickers, but reads
// only the pair it was handed: a picker that could not open a directory
// shows another. It reads its file names from the file lists and its
// options from the check marks at the moment of use, and shows its
// progress there; Form1 implements this.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace qm::engine {

enum class Side { source, target };

// A directory pair as a batch entry names it.
struct Pair {
    std::string source, target;
};
enum class Option { confirm, move, subs };  // CC, Movefiles, Subs

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

class Host {
public:
    virtual ~Host() = default;

    // -- pickers (BronTree/Doeltree, Brondir/Doeldir, BronDrive/Doeldrive)
    virtual std::string treePath(Side side) = 0;
    [[nodiscard]] virtual os::Status setTreePath(Side side, const std::string& path) = 0;
    virtual void refreshTree(Side side) = 0;
    virtual void setDrive(Side side, const std::string& path) = 0;
    virtual void setFileListPath(Side side, const std::string& path) = 0;
    // Rereads a file list; between is called after each entry read, and
    // ends the read early by returning false.
    virtual void refreshFileList(Side side, const std::function<bool()>& between) = 0;
    // Both at once, the same way.
    virtual void refreshFileLists(const std::function<bool()>& between) = 0;
    // The directories of a pair the walk will come to, after those named
    // before it: the lists may read them ahead while earlier pairs are
    // handled. A pair read uses its own reads ahead and forgets those named
    // before it. Empty: nothing read ahead may be used any more.
    virtual void readAhead(const std::string& source, const std::string& target) = 0;
    // What the file list last read; never null.
    virtual std::shared_ptr<const FileListing> fileListing(Side side) = 0;
    // The regular files that the list leaves out for being hidden.
    virtual const std::vector<std::string>& hiddenFileNames(Side side) = 0;
    virtual const std::optional<os::Error>& fileListError(Side side) = 0;
    // Opens the tree at the directory its file list has just read, with the
    // subdirectories that read found: one read of a directory serves both.
    // Fails as that read failed.
    [[nodiscard]] virtual os::Status openTreeAtFileList(Side side) = 0;

    // -- options
    virtual bool checked(Option option) = 0;
    virtual void setSubsChecked(bool on) = 0;
    virtual bool logEnabled() = 0;  // Check2 ticked

    // -- display
    virtual void setCountText(Side side, const std::string& text) = 0;  // Text1/Text2
    virtual void setProgressRange(int min, int max) = 0;
    virtual void setProgressValue(int value) = 0;
    virtual void setProgressVisible(bool on) = 0;
    virtual void setBusyPointer(bool busy) = 0;
    // Steps of a batch run that touch the window: busy (controls disabled,
    // "BUSY...") and idle again.
    virtual void setRunBusy(bool busy) = 0;

    // -- the batch
    virtual void clearBatchList() = 0;
    // Repairs the batch and shows its first entry in the pickers; returns
    // that entry's pair, or nothing when the batch could not be read.
    virtual os::Result<Pair> checkBatchFile() = 0;
    virtual void listBatch() = 0;
    virtual std::string subsValue() = 0;
    virtual void setSubsValue(const std::string& value) = 0;
    virtual void resetMinuteCounter() = 0;
    virtual std::string programDir() = 0;

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
