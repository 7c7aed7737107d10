// How the Windows backend reads a directory entry from its attributes and
// reparse tag. Apart from windows.cpp so that every case can be tried, also
// those no test machine can make (Wine knows no reparse tags).
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

}  // namespace qm::os::win
