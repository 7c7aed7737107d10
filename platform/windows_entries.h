// How the Windows backend reads a directory entry from its attributes and
// reparse tag, and the answers of a volume to a directory flush. Apart from
// windows.cpp so that every case can be tried, also those no test machine
// can make (Wine knows no reparse tags, nor FAT).
#pragma once

#include <cstdint>

namespace qm::os::win {

enum class Entry { file, dir, link, other };

// attributes: the FILE_ATTRIBUTE_* bits; tag: the reparse tag when the
// attributes mark a reparse point (0 when it could not be read).
Entry entry_of(std::uint32_t attributes, std::uint32_t tag);

// A file whose contents are not on this computer: reading it would fetch
// them from the cloud or from offline storage.
bool contents_elsewhere(std::uint32_t attributes);

// Whether a directory flush that failed with this error means that the
// volume flushes no directories, rather than a failure.
bool flushes_no_directories(std::uint32_t error);

}  // namespace qm::os::win
