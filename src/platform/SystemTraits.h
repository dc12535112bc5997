#pragma once
// What the operating system decides about names and programs, for the layers
// that must not ask it themselves (they sit below or beside the platform
// layer, and some need the answers at compile time). Each system's folder
// supplies NativeSystemTraits.h; CMake puts the right folder on the include
// path (the dz_system_traits target), so no layer above chooses by #ifdef.

#include "NativeSystemTraits.h"

namespace dz {

// File names compare without regard to case (Windows) or byte for byte.
inline constexpr bool SystemFileNamesIgnoreCase = NativeSystemTraits::FileNamesIgnoreCase;
// Paths are in Windows notation ("\", drive letters, UNC) or POSIX notation.
inline constexpr bool SystemUsesWindowsPaths = NativeSystemTraits::WindowsPaths;
// What a program's file name ends with ("" or ".exe").
inline constexpr const char* SystemExecutableExtension = NativeSystemTraits::ExecutableExtension;
// What separates the directories of a search path such as PATH.
inline constexpr char SystemPathListSeparator = NativeSystemTraits::PathListSeparator;

}  // namespace dz
