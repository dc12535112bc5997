#pragma once
// Walks a directory tree and hands every entry below the root to a visitor:
// its path relative to the root, its kind and, when asked for, its time
// stamps. Symbolic links are reported as links and never followed, so a link
// cycle cannot trap the walk and a link out of the tree cannot widen it.
//
// Used by the inotify backend (which has to watch every directory itself)
// and by the rescan after lost change reports.

#include <cstdint>
#include <functional>
#include <string>

namespace dz {

enum TDirEntryKind : std::uint8_t {
  dekFile,       // a regular file
  dekDirectory,
  dekLink,       // a symbolic link, whatever it points to
  dekOther,      // a FIFO, socket or device
};

struct TDirWalkEntry {
  std::string RelPath;  // relative to the root, "/" between the names; the
                        // bytes of the names as the file system holds them
  TDirEntryKind Kind;
  // File times (TFileTime of FileOps.h: 100-nanosecond units since
  // 1601-01-01 UTC); 0 when not asked for, or when the entry vanished before
  // it could be looked at.
  std::int64_t ModifyTime = 0;  // last change of the data
  std::int64_t ChangeTime = 0;  // last change of the inode: data, attributes,
                                // links, or a rename (a file moved in)
};

enum TDirWalkVerdict : std::uint8_t {
  dwvContinue,  // go on; descend into this entry if it is a directory
  dwvSkip,      // go on, but do not descend into this directory
  dwvStop,      // end the walk now
};

struct TDirWalkOptions {
  bool Times = true;     // fill in ModifyTime and ChangeTime (one stat per entry)
  bool Recursive = true;  // descend into sub-directories
};

using TDirWalkVisitor = std::function<TDirWalkVerdict(const TDirWalkEntry& Entry)>;

// Visits every entry below Root (Root itself is not visited). A directory is
// visited before it is opened, so a visitor that starts watching it there
// sees nothing of its contents slip past. Directories that cannot be read, or
// vanish during the walk, are skipped without a word: a tree that changes
// while it is walked is the normal case.
//
// Returns 0, or the system error code (SysError.h) when Root itself cannot be
// read (2 when it does not exist, 3 when its parent is missing too, 267 when
// it is not a directory, 5 when access is denied).
int WalkDirectoryTree(const std::string& Root, const TDirWalkVisitor& Visit, const TDirWalkOptions& Options = {});

// The code Root itself fails with (as WalkDirectoryTree would), 0 for a
// readable directory. Symbolic links are followed for Root.
int CheckDirectory(const std::string& Root);

}  // namespace dz
