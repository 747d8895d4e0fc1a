// The real Win32 calls behind platform.h. The only file that includes <windows.h>.
#include <windows.h>
// The headers below need the definitions of <windows.h>.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>
#include <tlhelp32.h>
#include <wincrypt.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"

namespace platform {

WindowHandle ConsoleWindow() { return WindowHandle{GetConsoleWindow()}; }

void ShowWindowAs(WindowHandle window, int showCommand) { ShowWindow(static_cast<HWND>(window.value), showCommand); }

void BringToForeground(WindowHandle window) { SetForegroundWindow(static_cast<HWND>(window.value)); }

void WriteStandardOutput(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void FlushStandardOutput() { std::fflush(stdout); }

int ReadStandardInputCharacter() { return std::getchar(); }

bool RunsWhereAPersonSees() {
  USEROBJECTFLAGS flags = {};
  HWINSTA station = GetProcessWindowStation();
  if (station == nullptr || !GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}

bool VisitProcesses(const std::function<bool(const ProcessEntry&)>& visit) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32 entry;
  std::memset(&entry, 0, sizeof entry);
  entry.dwSize = sizeof entry;
  // A failed first read leaves nothing that came from the system: the list counts as empty.
  if (Process32First(snapshot, &entry)) {
    while (visit(ProcessEntry{entry.szExeFile, entry.th32ProcessID}) && Process32Next(snapshot, &entry)) {
    }
  }
  CloseHandle(snapshot);
  return true;
}

namespace {

bool TokenIsElevatedOrSystem(HANDLE token) {
  TOKEN_ELEVATION elevation = {};
  DWORD size = 0;
  if (GetTokenInformation(token, TokenElevation, &elevation, sizeof elevation, &size) && elevation.TokenIsElevated)
    return true;
  std::vector<BYTE> user(256);
  return GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size) &&
         IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, WinLocalSystemSid);
}

}  // namespace

bool RunsElevatedOrAsSystem(unsigned long processId) {
  // The least access a query needs, which an elevated or SYSTEM caller gets for every process but
  // the protected ones; a process that denies even that is no copy of the launcher, whose process
  // has the system's default security.
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
  if (process == nullptr) return false;
  HANDLE token = nullptr;
  bool elevated = OpenProcessToken(process, TOKEN_QUERY, &token) && TokenIsElevatedOrSystem(token);
  if (token != nullptr) CloseHandle(token);
  CloseHandle(process);
  return elevated;
}

namespace {

// The user SID of the launcher's own token, empty when it cannot be read.
std::vector<BYTE> OwnUser() {
  std::vector<BYTE> user(256);
  HANDLE token = nullptr;
  DWORD size = 0;
  bool read = OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) &&
              GetTokenInformation(token, TokenUser, user.data(), static_cast<DWORD>(user.size()), &size);
  if (token != nullptr) CloseHandle(token);
  if (!read) user.clear();
  return user;
}

}  // namespace

bool RunsAsSystem() {
  std::vector<BYTE> user = OwnUser();
  return !user.empty() && IsWellKnownSid(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, WinLocalSystemSid);
}

namespace {

// Converts wide text to the ANSI code page; false when some character has no exact spelling there
// (the narrow calls would have put "?" or a look-alike in its place).
bool ToAnsiExactly(const std::wstring& wide, std::string* ansi) {
  ansi->clear();
  if (wide.empty()) return true;
  // A UTF-8 code page spells everything, and refuses the question of a default character.
  bool utf8 = GetACP() == CP_UTF8;
  DWORD flags = utf8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL lossy = FALSE;
  int length = static_cast<int>(wide.size());
  int size = WideCharToMultiByte(CP_ACP, flags, wide.c_str(), length, nullptr, 0, nullptr, utf8 ? nullptr : &lossy);
  if (size <= 0 || lossy) return false;
  ansi->resize(static_cast<std::size_t>(size));
  size = WideCharToMultiByte(CP_ACP, flags, wide.c_str(), length, &(*ansi)[0], size, nullptr, utf8 ? nullptr : &lossy);
  return size > 0 && !lossy;
}

std::wstring Widened(const std::string& text, UINT codePage) {
  int length = MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
  if (length > 0) MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

AnsiSpelling Spell(const std::wstring& path) {
  AnsiSpelling spelling;
  std::string ansi;
  if (ToAnsiExactly(path, &ansi)) return spelling;
  spelling.exact = false;
  DWORD size = GetShortPathNameW(path.c_str(), nullptr, 0);
  if (size == 0) return spelling;
  std::wstring shortPath(size, L'\0');
  DWORD length = GetShortPathNameW(path.c_str(), &shortPath[0], size);
  if (length == 0 || length >= size) return spelling;
  shortPath.resize(length);
  // A volume without 8.3 names hands back the long name, which the code page cannot spell either.
  if (ToAnsiExactly(shortPath, &ansi)) spelling.shortForm = ansi;
  return spelling;
}

}  // namespace

std::string ExecutablePath() {
  std::wstring buffer(32768, L'\0');
  DWORD length = GetModuleFileNameW(nullptr, &buffer[0], static_cast<DWORD>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return "";
  buffer.resize(length);
  std::string path;
  if (!ToAnsiExactly(buffer, &path)) path = Spell(buffer).shortForm;
  // Beyond MAX_PATH the narrow calls cannot use it; a cut path would name some other file.
  return path.size() < MAX_PATH ? path : "";
}

AnsiSpelling SpellEnvironmentValue(const std::string& name) {
  std::wstring wideName(name.begin(), name.end());  // the launcher's names are ASCII
  DWORD size = GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) return AnsiSpelling{};
  std::wstring value(size, L'\0');
  DWORD length = GetEnvironmentVariableW(wideName.c_str(), &value[0], size);
  if (length == 0 || length >= size) return AnsiSpelling{};
  value.resize(length);
  return Spell(value);
}

namespace {

std::string IdentityText(const BY_HANDLE_FILE_INFORMATION& information) {
  char id[32];
  std::snprintf(id, sizeof id, "%08lX-%08lX%08lX", information.dwVolumeSerialNumber, information.nFileIndexHigh,
                information.nFileIndexLow);
  return id;
}

}  // namespace

DirectoryIdentity IdentifyDirectory(const std::string& path) {
  DirectoryIdentity identity;
  int length = MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 1), L'\0');
  if (length > 0) MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, &wide[0], length);
  HANDLE directory =
      CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (directory == INVALID_HANDLE_VALUE) return identity;
  BY_HANDLE_FILE_INFORMATION information;
  std::wstring finalPath(32768, L'\0');
  DWORD finalLength = GetFinalPathNameByHandleW(directory, &finalPath[0], static_cast<DWORD>(finalPath.size()),
                                                FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
  if (GetFileInformationByHandle(directory, &information) &&
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && finalLength > 0 &&
      finalLength < finalPath.size()) {
    identity.id = IdentityText(information);
    finalPath.resize(finalLength);
    // "\\?\C:\..." and "\\?\UNC\server\share\..." name what "C:\..." and "\\server\share\..." do;
    // a volume without a drive letter keeps its device form, which the caller refuses.
    if (finalPath.compare(0, 8, L"\\\\?\\UNC\\") == 0) {
      finalPath = L"\\" + finalPath.substr(7);
    } else if (finalPath.compare(0, 4, L"\\\\?\\") == 0 && finalPath.size() >= 6 && finalPath[5] == L':') {
      finalPath = finalPath.substr(4);
    }
    std::string ansi;
    identity.finalPath = ToAnsiExactly(finalPath, &ansi) ? ansi : Spell(finalPath).shortForm;
  }
  CloseHandle(directory);
  return identity;
}

std::string HeldDirectoryIdentity(HeldDirectory directory) {
  BY_HANDLE_FILE_INFORMATION information;
  if (!directory || !GetFileInformationByHandle(directory.value, &information)) return "";
  return IdentityText(information);
}

void ReleaseHeldDirectory(HeldDirectory directory) {
  if (directory) CloseHandle(directory.value);
}

bool PathExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

PathKind KindOf(const std::string& path) {
  DWORD attributes = GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::Missing;
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return PathKind::Link;
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? PathKind::Directory : PathKind::File;
}

std::optional<std::string> ShortForm(const std::string& path) {
  DWORD size = GetShortPathNameA(path.c_str(), nullptr, 0);
  if (size == 0) return std::nullopt;
  std::vector<char> buffer(size);
  DWORD length = GetShortPathNameA(path.c_str(), buffer.data(), size);
  // A length that no longer fits means the path changed between the two calls.
  if (length == 0 || length >= size) return std::nullopt;
  return std::string(buffer.data(), length);
}

std::string SystemDirectory() {
  char buffer[MAX_PATH] = {};
  UINT length = GetSystemDirectoryA(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  return std::string(buffer, length);
}

std::string TemporaryDirectoryOfTheSystem() {
  // Looked up at run time: only Windows 11 and the updates of 2022 and later have it.
  using GetTempPath2WFunction = DWORD(WINAPI*)(DWORD, LPWSTR);
  HMODULE kernel = GetModuleHandleA("kernel32");
  FARPROC address = kernel != nullptr ? GetProcAddress(kernel, "GetTempPath2W") : nullptr;
  if (address == nullptr) return "";
  wchar_t buffer[MAX_PATH + 1] = {};
  DWORD length = reinterpret_cast<GetTempPath2WFunction>(reinterpret_cast<void*>(address))(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH) return "";
  std::wstring path(buffer, length);
  if (path.size() > 3 && path.back() == L'\\') path.pop_back();
  std::string ansi;
  return ToAnsiExactly(path, &ansi) ? ansi : "";
}

std::optional<std::string> EnvironmentValue(const std::string& name) {
  // The C runtime matches names without regard to case on Windows.
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

namespace {

// A descriptor from its SDDL text, released when it goes out of scope.
class SecurityFromText {
 public:
  explicit SecurityFromText(const std::string& sddl) {
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor_, nullptr)) {
      descriptor_ = nullptr;
    }
    attributes_.nLength = sizeof attributes_;
    attributes_.lpSecurityDescriptor = descriptor_;
    attributes_.bInheritHandle = FALSE;
  }
  ~SecurityFromText() { LocalFree(descriptor_); }
  SecurityFromText(const SecurityFromText&) = delete;
  SecurityFromText& operator=(const SecurityFromText&) = delete;

  // Null when the text was not a descriptor: the caller must then create nothing.
  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {};
};

}  // namespace

namespace {

// The native calls that open a file relative to a directory's handle, which no Win32 call does,
// looked up in ntdll, which every process has loaded.
using NtCreateFileFunction = NTSTATUS(NTAPI*)(PHANDLE, ACCESS_MASK, POBJECT_ATTRIBUTES, PIO_STATUS_BLOCK,
                                              PLARGE_INTEGER, ULONG, ULONG, ULONG, ULONG, PVOID, ULONG);

NtCreateFileFunction NativeCreateFile() {
  static const NtCreateFileFunction function = [] {
    HMODULE ntdll = GetModuleHandleA("ntdll");
    FARPROC address = ntdll != nullptr ? GetProcAddress(ntdll, "NtCreateFile") : nullptr;
    return reinterpret_cast<NtCreateFileFunction>(reinterpret_cast<void*>(address));
  }();
  return function;
}

constexpr NTSTATUS kSuccess = 0;
constexpr NTSTATUS kNotImplemented = static_cast<NTSTATUS>(0xC0000002L);  // STATUS_NOT_IMPLEMENTED
constexpr ULONG kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// The hold: listing access takes part in the sharing checks (attribute access alone does not), and
// without delete sharing nobody can open the directory to rename or remove it. No DELETE access
// of its own: Wine refuses FindFirstFile (error 32) on a directory that a handle with DELETE
// holds, so the installer could not list its folder.
constexpr ACCESS_MASK kHoldAccess = FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE;
constexpr ULONG kHoldSharing = FILE_SHARE_READ | FILE_SHARE_WRITE;

// Opens name relative to root (an NT path "\??\C:\..." without root), answering with the
// system's status; a status other than success leaves no handle open.
NTSTATUS OpenNative(HANDLE root, const std::wstring& name, ACCESS_MASK access, ULONG sharing, ULONG disposition,
                    ULONG options, PSECURITY_DESCRIPTOR descriptor, HANDLE* handle) {
  *handle = nullptr;
  NtCreateFileFunction createFile = NativeCreateFile();
  if (createFile == nullptr || name.size() * sizeof(WCHAR) > 0xFFF0) return kNotImplemented;
  UNICODE_STRING text;
  text.Buffer = const_cast<PWSTR>(name.c_str());
  text.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  text.MaximumLength = text.Length;
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &text, OBJ_CASE_INSENSITIVE, root, descriptor);
  IO_STATUS_BLOCK io = {};
  NTSTATUS status = createFile(handle, access, &attributes, &io, nullptr, FILE_ATTRIBUTE_NORMAL, sharing, disposition,
                               options | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  // An opportunistic lock that someone holds is being broken: the open came back at once instead
  // of waiting for its holder, who could make the run wait forever. Such an object is left alone.
  if (status != kSuccess && *handle != nullptr && status >= 0) CloseHandle(*handle);
  if (status != kSuccess) *handle = nullptr;
  return status;
}

// The NT form of a full Win32 path: "C:\..." as "\??\C:\...", "\\server\share\..." as
// "\??\UNC\server\share\...". The launcher forms its paths whole, without "." or "..".
std::wstring NativePath(const std::string& path) {
  std::wstring wide = Widened(path, CP_ACP);
  if (wide.compare(0, 2, L"\\\\") == 0) return L"\\??\\UNC\\" + wide.substr(2);
  return L"\\??\\" + wide;
}

bool IsRealDirectory(HANDLE handle) {
  BY_HANDLE_FILE_INFORMATION information;
  return GetFileInformationByHandle(handle, &information) &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

std::string SidText(PSID sid) {
  char* text = nullptr;
  if (sid == nullptr || !ConvertSidToStringSidA(sid, &text)) return "?";
  std::string result(text);
  LocalFree(text);
  return result;
}

bool ReadSecurity(HANDLE directory, DirectorySecurity* security) {
  PSID owner = nullptr;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(directory, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner,
                      nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  security->owner = SidText(owner);
  security->hasDacl = dacl != nullptr;
  security->entries.clear();
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(dacl, i, &entry)) {
      security->entries.push_back("?");
      continue;
    }
    // Allowed and denied entries share one layout; any other kind is not one the launcher made.
    BYTE type = static_cast<ACE_HEADER*>(entry)->AceType;
    bool plain = type == ACCESS_ALLOWED_ACE_TYPE || type == ACCESS_DENIED_ACE_TYPE;
    security->entries.push_back(plain ? SidText(&static_cast<ACCESS_ALLOWED_ACE*>(entry)->SidStart) : "?");
  }
  LocalFree(descriptor);
  return true;
}

// The path the system holds for an open handle ("\\?\C:\..."), or "" when it gives none. A path
// longer than the first buffer is asked for again with the length the system named.
std::wstring FinalPathOf(HANDLE handle) {
  std::wstring path(1024, L'\0');
  for (int attempt = 0; attempt < 2; ++attempt) {
    DWORD length = GetFinalPathNameByHandleW(handle, &path[0], static_cast<DWORD>(path.size()),
                                             FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0) return L"";
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.assign(length, L'\0');
  }
  return L"";
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
         CSTR_EQUAL;
}

struct DirectoryEntry {
  std::wstring name;
  DWORD attributes;
};

// The entries of an open directory, "." and ".." left out, read whole before anything is removed.
std::vector<DirectoryEntry> ListEntries(HANDLE directory) {
  std::vector<DirectoryEntry> entries;
  std::vector<BYTE> buffer(64 * 1024);
  FILE_INFO_BY_HANDLE_CLASS kind = FileFullDirectoryRestartInfo;
  while (GetFileInformationByHandleEx(directory, kind, buffer.data(), static_cast<DWORD>(buffer.size()))) {
    kind = FileFullDirectoryInfo;
    for (std::size_t at = 0;;) {
      const auto* entry = reinterpret_cast<const FILE_FULL_DIR_INFO*>(buffer.data() + at);
      std::wstring name(entry->FileName, entry->FileNameLength / sizeof(WCHAR));
      if (name != L"." && name != L"..") entries.push_back({name, entry->FileAttributes});
      if (entry->NextEntryOffset == 0) break;
      at += entry->NextEntryOffset;
    }
  }
  return entries;
}

// Marks an open file or directory for deletion, clearing its read-only attribute when that is
// what refuses it, as the command interpreter's removal did.
bool MarkForDeletion(HANDLE handle, DWORD attributes) {
  FILE_DISPOSITION_INFO disposition = {TRUE};
  if (SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition)) return true;
  if ((attributes & FILE_ATTRIBUTE_READONLY) == 0) return false;
  FILE_BASIC_INFO basic = {};
  basic.FileAttributes = (attributes & ~FILE_ATTRIBUTE_READONLY) | FILE_ATTRIBUTE_NORMAL;
  return SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof basic) &&
         SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition);
}

// The ANSI spelling of wide text for messages: a character the code page lacks becomes "?".
std::string Narrowed(const std::wstring& wide) {
  int length = static_cast<int>(wide.size());
  int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), length, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) WideCharToMultiByte(CP_ACP, 0, wide.c_str(), length, &narrow[0], size, nullptr, nullptr);
  return narrow;
}

// Adds relative to left, when it is given, with why it stays; returns false, the entry's fate.
bool Leave(std::vector<LeftEntry>* left, const std::wstring& relative, const std::string& reason) {
  if (left != nullptr) left->push_back({Narrowed(relative), reason});
  return false;
}

bool RemoveEntriesBelow(HANDLE directory, const std::wstring& path, const std::wstring& relative,
                        std::vector<LeftEntry>* left);

// Removes one entry of the directory open as parent, whose path is parentPath and whose path below
// the removed directory is parentRelative. Returns true when the entry is marked for deletion.
bool RemoveEntry(HANDLE parent, const std::wstring& parentPath, const std::wstring& parentRelative,
                 const DirectoryEntry& entry, std::vector<LeftEntry>* left) {
  std::wstring relative = parentRelative.empty() ? entry.name : parentRelative + L"\\" + entry.name;
  // A link or junction is opened as itself and so removed as itself, never entered.
  bool folder =
      (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  HANDLE child = nullptr;
  ACCESS_MASK access = DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES;
  NTSTATUS status = OpenNative(parent, entry.name, folder ? access | FILE_LIST_DIRECTORY : access, kShareAll, FILE_OPEN,
                               FILE_OPEN_REPARSE_POINT | (folder ? FILE_DIRECTORY_FILE : 0), nullptr, &child);
  if (status != kSuccess) {
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(status));
    return Leave(left, relative, std::string("could not be opened (status ") + code + ")");
  }
  // The handle must name exactly this entry below the directory. Wine opens a link's target
  // whatever it is asked, and after a folder above was renamed it names the entry by a path that
  // now leads elsewhere; in both cases deleting through it would reach outside.
  std::wstring childPath = parentPath + L"\\" + entry.name;
  BY_HANDLE_FILE_INFORMATION information;
  bool marked = false;
  if (!SamePath(FinalPathOf(child), childPath) || !GetFileInformationByHandle(child, &information)) {
    Leave(left, relative, "not reached as itself (a link the system followed, or a folder above moved)");
  } else {
    // A folder that keeps some of what it holds cannot go; those entries say why.
    bool emptied = !folder || RemoveEntriesBelow(child, childPath, relative, left);
    marked = MarkForDeletion(child, information.dwFileAttributes);
    if (!marked && emptied) {
      Leave(left, relative, "could not be deleted (system error " + std::to_string(GetLastError()) + ")");
    }
  }
  CloseHandle(child);
  return marked;
}

// Removes every entry below the directory open as directory, whose path is path; returns true when
// every one of them is marked for deletion.
bool RemoveEntriesBelow(HANDLE directory, const std::wstring& path, const std::wstring& relative,
                        std::vector<LeftEntry>* left) {
  bool all = true;
  for (const DirectoryEntry& entry : ListEntries(directory))
    all = RemoveEntry(directory, path, relative, entry, left) && all;
  return all;
}

}  // namespace

HeldDirectory CreateHeldDirectory(const std::string& path, const std::string& sddl) {
  SecurityFromText security(sddl);
  if (security.Attributes() == nullptr) return HeldDirectory{};
  // One call creates it with its descriptor and holds it: FILE_CREATE fails on anything of that
  // name, a link included, so the handle can only be the directory made here.
  HANDLE directory = nullptr;
  NTSTATUS status = OpenNative(nullptr, NativePath(path), kHoldAccess, kHoldSharing, FILE_CREATE, FILE_DIRECTORY_FILE,
                               security.Attributes()->lpSecurityDescriptor, &directory);
  return HeldDirectory{status == kSuccess ? directory : nullptr};
}

HeldDirectory HoldTrustedDirectory(const std::string& path,
                                   const std::function<bool(const DirectorySecurity&)>& trusted) {
  // Attributes and descriptor only: nothing of its contents is read before it is known to be the
  // launcher's own.
  HANDLE inspected = nullptr;
  if (OpenNative(nullptr, NativePath(path), READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll, FILE_OPEN,
                 FILE_DIRECTORY_FILE | FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED, nullptr,
                 &inspected) != kSuccess) {
    return HeldDirectory{};
  }
  DirectorySecurity security;
  HANDLE held = nullptr;
  // Held through the handle it was judged by (an empty name relative to it is that directory), so
  // that the decision and the removal concern one directory.
  if (IsRealDirectory(inspected) && ReadSecurity(inspected, &security) && trusted(security)) {
    OpenNative(inspected, L"", kHoldAccess, kHoldSharing, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_COMPLETE_IF_OPLOCKED,
               nullptr, &held);
  }
  CloseHandle(inspected);
  return HeldDirectory{held};
}

bool RemoveHeldDirectory(HeldDirectory directory, std::vector<LeftEntry>* left) {
  if (!directory) return false;
  HANDLE held = directory.value;
  std::wstring path = FinalPathOf(held);
  if (!path.empty()) RemoveEntriesBelow(held, path, L"", left);
  // NT lets no open gain DELETE while another handle denies delete sharing, the hold included: an
  // attribute-only handle, which takes no part in the sharing checks, carries the directory from
  // the hold to the handle that deletes it. Only an emptied directory is let go of so, for the
  // three calls until it is gone, and it is still deleted through its handle wherever it is.
  HANDLE bridge = nullptr;
  bool empty = !path.empty() && ListEntries(held).empty() &&
               OpenNative(held, L"", FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE,
                          nullptr, &bridge) == kSuccess;
  // Meanwhile the folder above is held against renames too: Wine lets it be renamed while the
  // directory is open (Windows does not), and then deletes nothing through the directory's handle.
  HANDLE above = nullptr;
  std::size_t slash = path.rfind(L'\\');
  if (empty && path.compare(0, 4, L"\\\\?\\") == 0 && slash != std::wstring::npos) {
    // "\\?\C:\TempExpandedFiles" lies in the root "C:\", not in the volume "C:".
    std::wstring folder = path.substr(4, slash - 4) + (path[slash - 1] == L':' ? L"\\" : L"");
    OpenNative(nullptr, L"\\??\\" + folder, FILE_LIST_DIRECTORY | SYNCHRONIZE, kHoldSharing, FILE_OPEN,
               FILE_DIRECTORY_FILE, nullptr, &above);
  }
  CloseHandle(held);
  if (!empty) return false;
  // Sharing everything: whoever opens it meanwhile (to probe for this moment) cannot keep it from
  // being deleted, which takes effect as the last handle closes.
  HANDLE own = nullptr;
  OpenNative(bridge, L"", DELETE | SYNCHRONIZE, kShareAll, FILE_OPEN, FILE_DIRECTORY_FILE | FILE_DELETE_ON_CLOSE,
             nullptr, &own);
  if (own != nullptr) CloseHandle(own);
  CloseHandle(bridge);
  if (above != nullptr) CloseHandle(above);
  return own != nullptr;
}

bool RenamePath(const std::string& oldPath, const std::string& newPath) {
  // Renamed through a handle of the object itself, so that the check and the rename concern one
  // object. Where a link cannot be opened as itself (Wine follows it), the handle would rename
  // its target instead: that is refused.
  DWORD attributes = GetFileAttributesA(oldPath.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return false;
  HANDLE object = nullptr;
  if (OpenNative(nullptr, NativePath(oldPath), DELETE | SYNCHRONIZE | FILE_READ_ATTRIBUTES, kShareAll, FILE_OPEN,
                 FILE_OPEN_REPARSE_POINT | FILE_COMPLETE_IF_OPLOCKED, nullptr, &object) != kSuccess) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION information;
  bool itself = GetFileInformationByHandle(object, &information) &&
                ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 ||
                 (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
  bool renamed = false;
  int length = itself ? MultiByteToWideChar(CP_ACP, 0, newPath.c_str(), -1, nullptr, 0) : 0;
  if (length > 0) {
    std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + static_cast<std::size_t>(length) * sizeof(WCHAR));
    auto* rename = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    rename->ReplaceIfExists = FALSE;  // fails when newPath exists
    rename->RootDirectory = nullptr;
    rename->FileNameLength = static_cast<DWORD>(length - 1) * sizeof(WCHAR);
    MultiByteToWideChar(CP_ACP, 0, newPath.c_str(), -1, rename->FileName, length);
    renamed = SetFileInformationByHandle(object, FileRenameInfo, rename, static_cast<DWORD>(buffer.size())) != 0;
  }
  CloseHandle(object);
  return renamed;
}

unsigned long UniqueNumber() {
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  return static_cast<unsigned long>(counter.LowPart) ^ (GetCurrentProcessId() << 16) ^ GetTickCount();
}

std::optional<unsigned long long> RandomNumber() {
  // The CryptoAPI's generator, from advapi32, which the launcher imports already: the system's
  // own random numbers, not a clock or a process id that a standard user could foresee.
  HCRYPTPROV provider = 0;
  unsigned long long number = 0;
  if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) return std::nullopt;
  bool made = CryptGenRandom(provider, sizeof number, reinterpret_cast<BYTE*>(&number)) != 0;
  CryptReleaseContext(provider, 0);
  if (!made) return std::nullopt;
  return number;
}

bool HoldSystemWideLock(const std::string& name, const std::string& sddl) {
  SecurityFromText security(sddl);
  if (security.Attributes() == nullptr) return false;
  HANDLE lock = CreateMutexA(security.Attributes(), FALSE, name.c_str());
  if (lock == nullptr) return false;  // among others: someone else's object that denies us access
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(lock);
    return false;
  }
  // The handle stays open on purpose: the system releases the lock when the process ends, however it ends.
  return true;
}

std::FILE* OpenStream(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }

std::FILE* CreateNewFile(const std::string& path) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return nullptr;
  int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  if (descriptor == -1) {
    CloseHandle(file);
    return nullptr;
  }
  std::FILE* stream = _fdopen(descriptor, "wb");
  if (stream == nullptr) _close(descriptor);
  return stream;
}

bool ReplaceFileWith(const std::string& source, const std::string& target) {
  return MoveFileExA(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

namespace {

std::optional<unsigned long long> FileSizeOf(const std::wstring& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return std::nullopt;
  }
  return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

}  // namespace

std::optional<unsigned long long> FileSize(const std::string& path) { return FileSizeOf(Widened(path, CP_ACP)); }

std::optional<unsigned long long> FileSizeBelow(const std::string& directory, const std::string& relativeName,
                                                bool nameIsUtf8) {
  return FileSizeOf(Widened(directory, CP_ACP) + L"\\" + Widened(relativeName, nameIsUtf8 ? CP_UTF8 : CP_ACP));
}

bool RemoveFileAt(const std::string& path) { return DeleteFileA(path.c_str()) != 0; }

namespace {

// A job and the completion port that hears when its last process has ended.
struct Job {
  HANDLE job;
  HANDLE port;
};

Job* MakeJob(unsigned long* error) {
  HANDLE job = CreateJobObjectW(nullptr, nullptr);
  HANDLE port = job != nullptr ? CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1) : nullptr;
  JOBOBJECT_ASSOCIATE_COMPLETION_PORT association = {job, port};
  // Breaking away stays allowed: a child that asks for it would otherwise not start at all.
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
  if (port == nullptr ||
      !SetInformationJobObject(job, JobObjectAssociateCompletionPortInformation, &association, sizeof association) ||
      !SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    *error = GetLastError();
    if (port != nullptr) CloseHandle(port);
    if (job != nullptr) CloseHandle(job);
    return nullptr;
  }
  return new Job{job, port};
}

}  // namespace

StartResult StartProgram(const std::string& file, const std::optional<std::string>& parameters,
                         const std::string& workingDirectory, int showCommand, bool inJob) {
  std::wstring application = Widened(file, CP_ACP);
  std::wstring commandLine = L"\"" + application + L"\"";
  if (parameters) commandLine += L" " + Widened(*parameters, CP_ACP);
  std::wstring directory = Widened(workingDirectory, CP_ACP);
  STARTUPINFOW startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  // No standard handles of the launcher's: what a program (or the debugger of one that crashed)
  // writes must not mix with the launcher's lines, which deployment tools read.
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = static_cast<WORD>(showCommand);
  PROCESS_INFORMATION process;
  std::memset(&process, 0, sizeof process);
  StartResult result;
  // The application's full path: no search along PATH or beside the launcher, no shell verb.
  // Suspended, so that it starts nothing before it is in its job.
  if (!CreateProcessW(application.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                      directory.empty() ? nullptr : directory.c_str(), &startup, &process)) {
    result.error = GetLastError();
    return result;
  }
  if (inJob) {
    Job* job = MakeJob(&result.jobError);
    if (job != nullptr && !AssignProcessToJobObject(job->job, process.hProcess)) {
      result.jobError = GetLastError();
      ReleaseJob(JobHandle{job});
      job = nullptr;
    }
    result.job = JobHandle{job};
  }
  ResumeThread(process.hThread);
  CloseHandle(process.hThread);
  result.process = ProcessHandle{process.hProcess};
  result.processId = process.dwProcessId;
  return result;
}

bool WaitForProcessEndWithin(ProcessHandle process, unsigned long long milliseconds) {
  DWORD wait = milliseconds >= INFINITE ? INFINITE : static_cast<DWORD>(milliseconds);
  return WaitForSingleObject(process.value, wait) == WAIT_OBJECT_0;
}

unsigned long ReleaseProcess(ProcessHandle process) {
  DWORD exitCode = 0;
  GetExitCodeProcess(process.value, &exitCode);
  CloseHandle(process.value);
  return exitCode;
}

unsigned long WaitForProcessEnd(ProcessHandle process) {
  WaitForSingleObject(process.value, INFINITE);
  return ReleaseProcess(process);
}

bool EndJob(JobHandle job, unsigned long exitCode, unsigned long long milliseconds) {
  auto* held = static_cast<Job*>(job.value);
  if (held == nullptr || !TerminateJobObject(held->job, exitCode)) return false;
  // The port tells when the last process is gone; its other messages (each process's start and
  // end) are passed over.
  ULONGLONG deadline = GetTickCount64() + milliseconds;
  DWORD message = 0;
  ULONG_PTR key = 0;
  LPOVERLAPPED overlapped = nullptr;
  for (ULONGLONG now = GetTickCount64(); now < deadline; now = GetTickCount64()) {
    if (!GetQueuedCompletionStatus(held->port, &message, &key, &overlapped, static_cast<DWORD>(deadline - now))) break;
    if (message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) return true;
  }
  JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting = {};
  return QueryInformationJobObject(held->job, JobObjectBasicAccountingInformation, &accounting, sizeof accounting,
                                   nullptr) &&
         accounting.ActiveProcesses == 0;
}

bool EndProcess(ProcessHandle process, unsigned long exitCode, unsigned long long milliseconds) {
  TerminateProcess(process.value, exitCode);
  return WaitForProcessEndWithin(process, milliseconds);
}

void ReleaseJob(JobHandle job) {
  auto* held = static_cast<Job*>(job.value);
  if (held == nullptr) return;
  CloseHandle(held->port);
  CloseHandle(held->job);
  delete held;
}

std::string SystemErrorText(unsigned long error) {
  char* text = nullptr;
  // Inserts are left as "%1": the system's texts name the file that way, and no arguments exist.
  DWORD length =
      FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, error, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length != 0 && text != nullptr ? std::string(text, length) : "";
  LocalFree(text);
  return result;
}

void SleepMilliseconds(unsigned milliseconds) { Sleep(milliseconds); }

std::string OwnResource(const char* name) {
  HRSRC resource = FindResourceA(nullptr, name, MAKEINTRESOURCEA(10));  // RT_RCDATA
  HGLOBAL loaded = resource != nullptr ? LoadResource(nullptr, resource) : nullptr;
  const char* bytes = static_cast<const char*>(loaded != nullptr ? LockResource(loaded) : nullptr);
  return bytes != nullptr ? std::string(bytes, SizeofResource(nullptr, resource)) : std::string();
}

HeldFile HoldFileForReading(const std::string& path) {
  // Read sharing only: the cabinet tool may read it too, nobody may change, rename or delete it.
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  return HeldFile{file == INVALID_HANDLE_VALUE ? nullptr : file};
}

std::string Sha256Of(HeldFile file, const std::optional<std::string>& copyTo, const ByteRange& range) {
  HCRYPTPROV provider = 0;
  HCRYPTHASH hash = 0;
  std::string digest;
  LARGE_INTEGER offset;
  offset.QuadPart = static_cast<LONGLONG>(range.offset);
  if (!file || !SetFilePointerEx(file.value, offset, nullptr, FILE_BEGIN) ||
      !CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES, CRYPT_VERIFYCONTEXT)) {
    return "";
  }
  HANDLE copy = INVALID_HANDLE_VALUE;
  if (copyTo) {
    copy = CreateFileA(copyTo->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                       FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  }
  bool ok = (!copyTo || copy != INVALID_HANDLE_VALUE) && CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != 0;
  std::vector<BYTE> buffer(1 << 20);
  unsigned long long left = range.length.value_or(~0ULL);
  DWORD count = 0;
  while (ok && left > 0 &&
         (ok = ReadFile(file.value, buffer.data(),
                        static_cast<DWORD>(std::min<unsigned long long>(buffer.size(), left)), &count, nullptr) != 0) &&
         count > 0) {
    left -= count;
    ok = CryptHashData(hash, buffer.data(), count, 0) != 0;
    DWORD written = 0;
    if (ok && copy != INVALID_HANDLE_VALUE)
      ok = WriteFile(copy, buffer.data(), count, &written, nullptr) && written == count;
  }
  if (range.length && left > 0) ok = false;  // the file ended first
  BYTE value[32];
  DWORD size = sizeof value;
  if (ok && CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0) && size == sizeof value) {
    digest.assign(reinterpret_cast<const char*>(value), size);
  }
  if (hash != 0) CryptDestroyHash(hash);
  CryptReleaseContext(provider, 0);
  if (copy != INVALID_HANDLE_VALUE) {
    // A copy cut short (a full disk) is no copy of the cabinet.
    if (!CloseHandle(copy)) digest.clear();
    if (digest.empty()) DeleteFileA(copyTo->c_str());
  }
  return digest;
}

void ReleaseHeldFile(HeldFile file) {
  if (file) CloseHandle(file.value);
}

void RestrictDllSearchToSystemDirectory() {
  // Looked up at run time: Windows 7 without update KB2533623 lacks it. SetDllDirectoryA("") then
  // at least takes the working directory out of the search.
  using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
  HMODULE kernel = GetModuleHandleA("kernel32");
  FARPROC address = kernel != nullptr ? GetProcAddress(kernel, "SetDefaultDllDirectories") : nullptr;
  if (address == nullptr || !reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(address))(
                                LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    SetDllDirectoryA("");
  }
}

bool RunsUnderWow64() {
  // Looked up at run time, so that the launcher still starts on a kernel32 without it.
  using IsWow64ProcessFunction = BOOL(WINAPI*)(HANDLE, PBOOL);
  BOOL underWow64 = FALSE;
  HMODULE kernel = GetModuleHandleA("kernel32");
  FARPROC address = kernel != nullptr ? GetProcAddress(kernel, "IsWow64Process") : nullptr;
  if (address != nullptr) {
    reinterpret_cast<IsWow64ProcessFunction>(reinterpret_cast<void*>(address))(GetCurrentProcess(), &underWow64);
  }
  return underWow64 != FALSE;
}

std::string CommandLine() { return GetCommandLineA(); }

unsigned long long Milliseconds() { return GetTickCount64(); }

LocalTime LocalTimeNow() {
  // One instant, read once: the local time and the bias both come from it.
  FILETIME utcFile;
  GetSystemTimeAsFileTime(&utcFile);
  SYSTEMTIME utc;
  SYSTEMTIME local;
  FileTimeToSystemTime(&utcFile, &utc);
  if (!SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) local = utc;
  FILETIME localFile;
  SystemTimeToFileTime(&local, &localFile);
  auto ticks = [](const FILETIME& time) {
    return static_cast<long long>((static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  };
  // 600,000,000 ticks of 100 ns are a minute; every zone's offset is whole minutes.
  long long difference = ticks(utcFile) - ticks(localFile);
  LocalTime time;
  time.year = local.wYear;
  time.month = local.wMonth;
  time.day = local.wDay;
  time.hour = local.wHour;
  time.minute = local.wMinute;
  time.second = local.wSecond;
  time.millisecond = local.wMilliseconds;
  time.biasMinutes = static_cast<int>((difference + (difference < 0 ? -300000000 : 300000000)) / 600000000);
  return time;
}

std::string AccountName() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return "";
  std::vector<BYTE> buffer(256);
  DWORD size = 0;
  bool read = GetTokenInformation(token, TokenUser, buffer.data(), static_cast<DWORD>(buffer.size()), &size) != 0;
  if (!read && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    buffer.resize(size);
    read = GetTokenInformation(token, TokenUser, buffer.data(), size, &size) != 0;
  }
  CloseHandle(token);
  if (!read) return "";
  PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
  char name[256];
  char domain[256];
  DWORD nameSize = sizeof name;
  DWORD domainSize = sizeof domain;
  SID_NAME_USE use;
  if (!LookupAccountSidA(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) return SidText(sid);
  return domainSize > 0 ? std::string(domain) + "\\" + name : std::string(name);
}

unsigned long ProcessId() { return GetCurrentProcessId(); }

std::string WindowsDirectory() {
  // The system's own, not %SystemRoot% from an environment that whoever started the launcher made.
  char buffer[MAX_PATH] = {};
  UINT length = GetSystemWindowsDirectoryA(buffer, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return "";
  return std::string(buffer, length);
}

namespace {

// The final path's usual spelling: "\\?\C:\..." as "C:\...", "\\?\UNC\server\..." as "\\server\...".
std::wstring WithoutDevicePrefix(const std::wstring& path) {
  if (path.compare(0, 8, L"\\\\?\\UNC\\") == 0) return L"\\" + path.substr(7);
  if (path.compare(0, 4, L"\\\\?\\") == 0) return path.substr(4);
  return path;
}

// Returns path in full, its folders in their long form, as a handle's final path spells them.
std::wstring LongFullPath(const std::wstring& path) {
  std::wstring full(32768, L'\0');
  DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), &full[0], nullptr);
  if (length == 0 || length >= full.size()) return path;
  full.resize(length);
  std::size_t slash = full.rfind(L'\\');
  std::wstring folder = full.substr(0, slash);
  std::wstring longFolder(32768, L'\0');
  length = GetLongPathNameW(folder.c_str(), &longFolder[0], static_cast<DWORD>(longFolder.size()));
  if (length == 0 || length >= longFolder.size()) return full;
  longFolder.resize(length);
  return longFolder + full.substr(slash);
}

// Returns true when the handle's file is the one path names, reached by no link or junction on the way.
bool LeadsWhereItSays(HANDLE file, const std::wstring& path) {
  std::wstring finalPath = FinalPathOf(file);
  return !finalPath.empty() && SamePath(WithoutDevicePrefix(finalPath), LongFullPath(path));
}

}  // namespace

AppendOpening OpenForAppending(const std::string& path, const std::string& sddl, AppendFile* file) {
  *file = AppendFile{};
  SecurityFromText security(sddl);
  if (security.Attributes() == nullptr) return AppendOpening::Failed;
  std::wstring wide = Widened(path, CP_ACP);
  // Append access alone: every write goes to the end, also beside another run's. Every sharing, so
  // that a run refused by the guard, or CMTrace, may hold the file meanwhile; no DELETE access,
  // which a reader that shares no deletion would refuse.
  HANDLE handle = CreateFileW(wide.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, security.Attributes(),
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return AppendOpening::Failed;
  BY_HANDLE_FILE_INFORMATION information;
  AppendOpening opening = AppendOpening::Opened;
  if (!GetFileInformationByHandle(handle, &information) || (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    opening = AppendOpening::Failed;
  } else if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 || information.nNumberOfLinks > 1 ||
             !LeadsWhereItSays(handle, wide)) {
    // A hard link names a file that lives elsewhere too; a junction above leads the path elsewhere.
    opening = AppendOpening::Link;
  }
  if (opening != AppendOpening::Opened) {
    CloseHandle(handle);
    return opening;
  }
  file->value = handle;
  return opening;
}

bool AppendTo(AppendFile file, const std::string& bytes) {
  DWORD written = 0;
  return file && WriteFile(file.value, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
         written == bytes.size();
}

void CloseAppendFile(AppendFile file) {
  if (file) CloseHandle(file.value);
}

bool WriteEvent(const std::string& source, EventType type, unsigned id, const std::vector<std::string>& strings) {
  HANDLE log = RegisterEventSourceW(nullptr, Widened(source, CP_ACP).c_str());
  if (log == nullptr) return false;
  std::vector<std::wstring> wide;
  wide.reserve(strings.size());
  for (const std::string& text : strings) wide.push_back(Widened(text, CP_ACP));
  std::vector<LPCWSTR> pointers;
  pointers.reserve(wide.size());
  for (const std::wstring& text : wide) pointers.push_back(text.c_str());
  WORD kind = type == EventType::Information ? EVENTLOG_INFORMATION_TYPE
              : type == EventType::Warning   ? EVENTLOG_WARNING_TYPE
                                             : EVENTLOG_ERROR_TYPE;
  std::vector<BYTE> user = OwnUser();
  PSID sid = user.empty() ? nullptr : reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid;
  BOOL written = ReportEventW(log, kind, 0, id, sid, static_cast<WORD>(pointers.size()), 0, pointers.data(), nullptr);
  DeregisterEventSource(log);
  return written != 0;
}

}  // namespace platform
