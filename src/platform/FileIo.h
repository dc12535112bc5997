#pragma once
// Whole-file reading and crash-safe replacement, for documents that are
// loaded and saved as a whole (settings and task files). Paths are UTF-8.
// Results are system error codes (SysError.h), 0 meaning success.

#include <string>
#include <string_view>

namespace dz {

// Reads the whole of Path into Data. 2 when the file does not exist; a
// directory, a FIFO or a device is refused at once, never waited on.
int ReadWholeFile(const std::string& Path, std::string& Data);

// True when Path names an existing file that is not a directory.
bool RegularFileExists(const std::string& Path);

// True when Path names an existing directory (links followed).
bool DirectoryExists(const std::string& Path);

// Gives Path the content Data so that nothing is lost if the program dies or
// the disk fills up on the way: the data goes to a new file beside Path, is
// flushed to the disk, takes Path's permission bits (a new file gets 0666
// less the umask) and is renamed over Path; the directory is flushed too. On
// any failure Path is left as it was and the new file is removed.
int ReplaceFileAtomically(const std::string& Path, std::string_view Data);

// Removes the new files that ReplaceFileAtomically left beside Path when a
// save was interrupted (the program killed, the machine off). Only for a
// caller that knows no save of Path runs meanwhile. Returns how many went.
int RemoveStaleReplacements(const std::string& Path);

}  // namespace dz
