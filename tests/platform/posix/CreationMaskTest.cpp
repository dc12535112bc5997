// The process's umask as FileCreationMask reads it, set with the system's
// own call (so this file, like the backend it tests, uses its headers).

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "platform/FileOps.h"
#include "platform/posix/CreationMask.h"

namespace dz {
namespace {

TEST(CreationMaskTest, ReadsTheUmaskWithoutChangingIt) {
  const mode_t Saved = ::umask(022);
  for (const mode_t Mask : {0000, 0002, 0022, 0027, 0077, 0777, 0750}) {
    SCOPED_TRACE(testing::Message() << std::oct << Mask);
    ::umask(Mask);
    EXPECT_EQ(FileCreationMask(), static_cast<std::uint32_t>(Mask));
    EXPECT_EQ(FileCreationMask(), static_cast<std::uint32_t>(Mask));  // reading left it as it was
  }
  EXPECT_EQ(::umask(Saved), 0750);
}

// What a file made with the default rights gets: what the portable layer
// gives a copy whose attributes carry no permission bits.
TEST(CreationMaskTest, DefaultNewFileModeIsTheUmaskTakenFrom0666) {
  const mode_t Saved = ::umask(022);
  EXPECT_EQ(DefaultNewFileMode(), 0644u);
  ::umask(027);
  EXPECT_EQ(DefaultNewFileMode(), 0640u);
  ::umask(0);
  EXPECT_EQ(DefaultNewFileMode(), 0666u);
  ::umask(Saved);
}

}  // namespace
}  // namespace dz
