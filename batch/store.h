// The batch file BATCH.INI in the program's directory: its format, its
// creation on the first start, its repair and its listing.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace qm::batch {

// What the batch store needs of the window.
class Window {
public:
    virtual ~Window() = default;
    // A modal notice with an OK button and no icon.
    virtual void notice(const std::string& title, const std::string& text) = 0;
    // Points the six picker controls and the path displays at a pair.
    virtual void showFirstEntry(const std::string& source, const std::string& target) = 0;
    virtual void setSubsValue(const std::string& value) = 0;
    virtual void clearList() = 0;
    virtual void addListItem(const std::string& item) = 0;
    virtual std::string startDirectory() = 0;
};

inline constexpr const char* kHeader = "[batch]";
inline constexpr const char* kFileName = "BATCH.INI";
// The spelling a new batch file gets where names ignore case; every later
// replace keeps whatever spelling the file has.
inline constexpr const char* kCreatedName = "batch.ini";
inline constexpr const char* kNewName = "batch.new";
inline constexpr const char* kSnapshotName = "batch.dat";

// The lines of a text file, accepting CR LF, LF and CR line ends.
std::vector<std::string> split_lines(const std::string& text);
// Lines joined, each ended by CR LF.
std::string join_lines(const std::vector<std::string>& lines);

// The value of an entry line by position: from the 8th character for the
// source and target lines, from the 6th for the subs line.
std::string path_of(const std::string& line);
std::string subs_of(const std::string& line);

// A number with a sign position: " 12", "-3".
std::string sign_number(long long n);

class Store {
public:
    Store(Window& window, std::string program_dir);

    // Repairs the file and selects its first entry. When the repair changed
    // the entries the list is made again, so that an entry number shown is
    // always the entry of the file.
    void CheckBatchFile();
    // The source and target of the entry the last CheckBatchFile selected;
    // nothing when it could not read the file.
    const std::optional<std::pair<std::string, std::string>>& firstEntry() const { return first_; }
    // Why the last CheckBatchFile selected no entry, when a failure was why.
    const std::optional<os::Error>& checkFailure() const { return checkFailure_; }
    // The Subs value of that entry.
    const std::string& firstSubs() const { return firstSubs_; }
    // Empties the window's list of entries.
    void ClearList() { window_.clearList(); }
    bool IsSingleEntryBatch();
    // Lists the batch into the window's list, replacing what it held.
    void ListBatch();
    // The lines after the header as the last listing read them.
    const std::vector<std::string>& listedEntries() const { return listed_; }

    // Rewrites BATCH.INI with these lines through batch.new, atomically,
    // keeping its permissions. On failure BATCH.INI is as it was and the
    // user has been told why. A read-only BATCH.INI is never replaced: the
    // user is told so once, or at every try when asked is true (an edit
    // the user asked for).
    bool Replace(const std::vector<std::string>& lines, bool asked = false);
    // The lines of BATCH.INI; nullopt (and the user told) when unreadable.
    // raw: also the file's bytes as read.
    std::optional<std::vector<std::string>> ReadLines(std::string* raw = nullptr);
    // Writes batch.new with what the batch file already holds.
    void KeepWorkingCopy(const std::string& data);

    std::string batchPath() const;
    // The name a replace writes: the file's own spelling where names ignore
    // case (kCreatedName for a new file), else batchPath().
    std::string replacePath() const;
    std::string newPath() const;
    std::string snapshotPath() const;
    const std::string& programDir() const { return dir_; }

private:
    void report(const std::string& what, const os::Error& e);

    Window& window_;
    std::string dir_;
    std::vector<std::string> listed_;
    std::optional<std::pair<std::string, std::string>> first_;
    std::optional<os::Error> checkFailure_;
    std::string firstSubs_;
    bool toldReadOnly_ = false;
    bool toldUnflushed_ = false;
};

}  // namespace qm::batch
