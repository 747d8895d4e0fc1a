#pragma once
// The expansion directory's whole life in a run: created fresh with a descriptor that only SYSTEM
// and the Administrators group can write through (never reused), held from that call on, checked
// to be still the run's own before it is used, and removed through its hold. One launcher at a
// time works in it. This file alone keeps the hold and the name the run took.

#include <string>

#include "platform/platform.h"

// Returns the resolved temporary directory followed by "\TempExpandedFiles" (or by the fresh name
// the run took beside a squatted one); "" while the temporary directory is unresolved or unusable.
std::string ExpansionDirectory();

// Takes the lock of the run's expansion directory for the rest of the run. Returns false when
// another launcher holds it, or when it cannot be taken.
bool ClaimExpansionDirectory();

// Creates the expansion directory afresh with kExpansionDirectorySecurity and holds it. A leftover
// of an earlier run of this launcher is removed first; anything else of that name is moved aside
// unopened. When TempExpandedFiles stays someone else's, the run goes on in a directory of a fresh,
// unforeseeable name beside it, which ExpansionDirectory names from then on; the log says so, and
// names what was moved aside. Returns "" on success, otherwise the kTemporaryDirectoryUnusable line
// that says why, with no new directory created.
std::string CreateFreshExpansionDirectory(const std::string& expansionDirectory);

// Returns true when expansionDirectory still names the directory that the run created and holds:
// neither it nor a folder above it was swapped, renamed or relinked since.
bool IsTheHeldExpansionDirectory(const std::string& expansionDirectory);

// Returns "" when ExpansionDirectory still names the held directory; otherwise the
// kTemporaryDirectoryUnusable line that says what stands there now (a link, or someone else's).
std::string ExpansionDirectoryReplacement();

// Removes the held expansion directory through its hold, wherever it is now, and all below it
// that is the run's own, and enters in the log what it came to (each entry it left, and why);
// returns true when it is gone, false also when no directory is held.
bool RemoveExpansionDirectory();

// Releases the hold without removing anything and forgets the name the run took: the end of a
// run that the process outlives (a preview, a test).
void ReleaseExpansionDirectory();

// Returns the temporary directory the run used, as its event names it: temp's resolved path, and
// the fresh expansion directory beside a squatted TempExpandedFiles with why it was taken.
std::string UsedTemporaryDirectory();

// The rules the life above follows, exposed for their tests.

// The expansion directory's descriptor: a protected DACL (nothing inherited from "temp", where
// standard users may create files) that gives SYSTEM and the Administrators group full control
// of it and everything below it, and no one else anything.
extern const char kExpansionDirectorySecurity[];

// The descriptor of the lock that keeps a second launcher out of the expansion directory.
extern const char kExpansionLockSecurity[];

// Returns the name of the system-wide lock of the expansion directory in the temporary directory
// whose identity is temporaryDirectoryId: "Global\TempExpandedFiles-" and the identity, the same
// however "temp" spells that directory.
std::string ExpansionLockName(const std::string& temporaryDirectoryId);

// Returns true when the owner and every DACL entry name SYSTEM or the Administrators group, and
// nothing else: a directory that only this launcher's kind of run could have made. The launcher's
// own account does not count: an elevated administrator's unelevated programs share it.
bool IsOwnLeftover(const platform::DirectorySecurity& security);

// Returns the name that a leftover is moved aside to: expansionDirectory, ".", and number as
// eight hexadecimal digits.
std::string AsideName(const std::string& expansionDirectory, unsigned long number);

// Returns the name of the directory that a run takes beside a TempExpandedFiles that is someone
// else's: "TempExpandedFiles.", and number as sixteen hexadecimal digits.
std::string FreshExpansionName(unsigned long long number);
