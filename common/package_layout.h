#pragma once
// What a package holds and how the package tool marks a launcher. The launcher's code and the
// package tool both take these from here (the tool through "package_inspect facts"), so the two
// cannot drift apart. The binding's part is plain #defines: the resource compiler reads it too.

// The package binding: an RT_RCDATA resource named PACKAGE_BINDING_NAME that the package tool fills
// before it signs. PACKAGE_BINDING_MAGIC names it, then a 32-bit state (0 as built,
// PACKAGE_BINDING_STATE_BOUND bound; the launcher takes any state but 0 for bound) and the 32-byte
// SHA-256 of the one cabinet the launcher may expand.
#define PACKAGE_BINDING_NAME PACKAGE_BINDING
#define PACKAGE_BINDING_MAGIC "PACKAGE BINDING "
#define PACKAGE_BINDING_MAGIC_SIZE 16
#define PACKAGE_BINDING_DIGEST_SIZE 32
#define PACKAGE_BINDING_SIZE (PACKAGE_BINDING_MAGIC_SIZE + 4 + PACKAGE_BINDING_DIGEST_SIZE)
#define PACKAGE_BINDING_STATE_BOUND 1
// A launcher that carries its cabinet (a single-file package) has the state 2, and after the hash
// the cabinet's offset in the launcher's file and its size, 32 bits each.
#define PACKAGE_BINDING_STATE_CARRIED 2
#define PACKAGE_BINDING_CARRIED_SIZE (PACKAGE_BINDING_SIZE + 8)
// After the extent, the package a launcher was made for, when the package tool was given one: the
// product's name, its version and its company, in this order, each in the ANSI code page,
// zero-terminated and zero-padded in a field of its own. A name has at most 64 characters (up to
// 128 bytes in a double-byte code page), a version 23 ASCII characters. A region that ends before
// these fields (a launcher built before them) names no package.
#define PACKAGE_IDENTITY_NAME_CHARACTERS 64
#define PACKAGE_IDENTITY_VERSION_CHARACTERS 23
#define PACKAGE_IDENTITY_NAME_FIELD 132
#define PACKAGE_IDENTITY_VERSION_FIELD 24
#define PACKAGE_BINDING_IDENTITY_SIZE \
  (PACKAGE_BINDING_CARRIED_SIZE + 2 * PACKAGE_IDENTITY_NAME_FIELD + PACKAGE_IDENTITY_VERSION_FIELD)

// Room for the version resource of a launcher that names its package: an RT_RCDATA resource of
// this name and size, zero as built. The package tool writes the new version resource there and
// points the version resource's entry at it, so that the file keeps its size and layout; the
// launcher as built keeps the version resource the resource compiler wrote.
#define PACKAGE_VERSION_ROOM_NAME PACKAGE_VERSION_ROOM
#define PACKAGE_VERSION_ROOM_SIZE 1024

#ifdef __cplusplus
#include <cstddef>

#define PACKAGE_LAYOUT_TEXT_OF(name) #name
#define PACKAGE_LAYOUT_TEXT(name) PACKAGE_LAYOUT_TEXT_OF(name)

namespace package {

constexpr const char* kBindingResource = PACKAGE_LAYOUT_TEXT(PACKAGE_BINDING_NAME);
constexpr const char* kVersionRoomResource = PACKAGE_LAYOUT_TEXT(PACKAGE_VERSION_ROOM_NAME);

// Below the expansion directory, as the launcher spells them.
constexpr const char* kSettingsFile = "install\\component.isf";
constexpr const char* kInstallerX86 = "install\\x86\\InstallGui.exe";
constexpr const char* kInstallerX64 = "install\\x64\\InstallGui.exe";

// The cabinet that a package's launchers share, beside them, when no cabinet has the launcher's
// own name.
constexpr const char* kSharedCabinet = "InstallFiles.cab";

// The folder in temp that the cabinet is expanded into.
constexpr const char* kExpansionFolder = "TempExpandedFiles";

// Windows' MAX_PATH, the terminating zero included: no path the launcher or extrac32.exe forms may
// reach it.
constexpr std::size_t kMaxPath = 260;

// The line that makes a package take its printer port from the command line, and that the port's
// rewrite replaces.
constexpr const char* kPortOnCommandLineLine = "Port=CmdLine";

// The lines that ask for the standalone run, in the order the launcher looks for them.
constexpr const char* kStandaloneKeys[] = {"License=1", "PortRuntimeDiscover=1", "DisplayUI=1"};

}  // namespace package
#endif
