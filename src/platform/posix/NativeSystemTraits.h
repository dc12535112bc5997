#pragma once
// The POSIX answers behind platform/SystemTraits.h.

namespace dz::NativeSystemTraits {

// Two names that differ only in case are two files.
inline constexpr bool FileNamesIgnoreCase = false;
inline constexpr bool WindowsPaths = false;
inline constexpr const char* ExecutableExtension = "";
inline constexpr char PathListSeparator = ':';

}  // namespace dz::NativeSystemTraits
