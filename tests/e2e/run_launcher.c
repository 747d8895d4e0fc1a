/* Starts the launcher the way a Windows parent would, so that TEMP reaches it (Wine overrides TEMP
 * from the Unix environment for programs it starts itself).
 *   run_launcher EXITFILE PLANFILE
 * PLANFILE holds lines "set NAME=VALUE", "unset NAME", "output FILE" (the launcher's standard
 * output and error go to FILE, its standard input a pipe that nobody writes to) and one
 * "run COMMANDLINE" in UTF-8, handed
 * on as wide text, so that names the ANSI code page cannot spell reach the launcher as Windows
 * would give them. The launcher's full 32-bit exit code is written to EXITFILE in hexadecimal, so
 * that a crash (0xC0000005) is not read as a small exit code; the file appears whole, under its
 * name, only once it is written. With "output" it runs as a service (started by "sc start"): it
 * reports to the service manager, which would otherwise end it after 10 s under Wine, and the
 * launcher's run then takes as long as it takes. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

static char plan[65536];
static wchar_t widePlan[65536];

static char** arguments;
static SERVICE_STATUS_HANDLE serviceStatus;

static int RunPlan(void) {
  char** argv = arguments;
  FILE* file = fopen(argv[2], "rb");
  if (!file) return 2;
  size_t length = fread(plan, 1, sizeof plan - 1, file);
  fclose(file);
  plan[length] = '\0';
  if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, plan, -1, widePlan, sizeof widePlan / sizeof widePlan[0])) {
    return 2;
  }

  wchar_t* commandLine = NULL;
  wchar_t* outputPath = NULL;
  wchar_t* next = NULL;
  for (wchar_t* line = widePlan; *line; line = next) {
    wchar_t* end = wcschr(line, L'\n');
    next = end ? end + 1 : line + wcslen(line);
    if (end) *end = L'\0';
    if (wcsncmp(line, L"set ", 4) == 0) {
      wchar_t* equals = wcschr(line + 4, L'=');
      if (!equals) return 2;
      *equals = L'\0';
      SetEnvironmentVariableW(line + 4, equals + 1);
    } else if (wcsncmp(line, L"unset ", 6) == 0) {
      SetEnvironmentVariableW(line + 6, NULL);
    } else if (wcsncmp(line, L"output ", 7) == 0) {
      outputPath = line + 7;
    } else if (wcsncmp(line, L"run ", 4) == 0) {
      commandLine = line + 4;
    }
  }
  if (!commandLine) return 2;

  STARTUPINFOW startup;
  PROCESS_INFORMATION process;
  memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  if (outputPath) {
    /* Where nobody reads this program's own output (a service): the launcher's goes to a file. */
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
    HANDLE output = CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ, &inheritable, CREATE_ALWAYS, 0, NULL);
    if (output == INVALID_HANDLE_VALUE) return 2;
    startup.dwFlags = STARTF_USESTDHANDLES;
    /* Standard input that nobody ever writes to, nor closes while the launcher runs: a read
     * from it waits, as one from the console of a session nobody sees. */
    HANDLE input = NULL;
    HANDLE neverWritten = NULL;
    if (!CreatePipe(&input, &neverWritten, &inheritable, 0)) return 2;
    SetHandleInformation(neverWritten, HANDLE_FLAG_INHERIT, 0);
    startup.hStdInput = input;
    /* Windows starts a child on its parent's window station; Wine starts it on WinSta0 unless
     * told, so name the parent's (a service's, which nobody sees). */
    static wchar_t desktop[512];
    wchar_t station[256] = L"";
    wchar_t desk[256] = L"";
    GetUserObjectInformationW(GetProcessWindowStation(), UOI_NAME, station, sizeof station, NULL);
    GetUserObjectInformationW(GetThreadDesktop(GetCurrentThreadId()), UOI_NAME, desk, sizeof desk, NULL);
    if (station[0] && desk[0]) {
      swprintf(desktop, sizeof desktop / sizeof desktop[0], L"%ls\\%ls", station, desk);
      startup.lpDesktop = desktop;
    }
    startup.hStdOutput = output;
    startup.hStdError = output;
  }
  if (!CreateProcessW(NULL, commandLine, NULL, NULL, TRUE, 0, NULL, NULL, &startup, &process)) {
    fprintf(stderr, "run_launcher: cannot start: error %lu\n", GetLastError());
    return 3;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exitCode = 0;
  GetExitCodeProcess(process.hProcess, &exitCode);
  char written[MAX_PATH];
  snprintf(written, sizeof written, "%s.part", argv[1]);
  FILE* out = fopen(written, "wb");
  if (!out) return 2;
  fprintf(out, "0x%08lx\n", exitCode);
  fclose(out);
  return MoveFileExA(written, argv[1], MOVEFILE_REPLACE_EXISTING) ? 0 : 2;
}

static void ReportServiceState(DWORD state) {
  SERVICE_STATUS status;
  memset(&status, 0, sizeof status);
  status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status.dwCurrentState = state;
  SetServiceStatus(serviceStatus, &status);
}

static DWORD WINAPI ServiceControl(DWORD control, DWORD type, void* data, void* context) {
  (void)control, (void)type, (void)data, (void)context;
  return NO_ERROR;
}

static void WINAPI ServiceMain(DWORD argc, wchar_t** argv) {
  (void)argc;
  serviceStatus = RegisterServiceCtrlHandlerExW(argv[0], ServiceControl, NULL);
  ReportServiceState(SERVICE_RUNNING);
  RunPlan();
  ReportServiceState(SERVICE_STOPPED);
}

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: run_launcher EXITFILE PLANFILE\n");
    return 2;
  }
  arguments = argv;
  FILE* file = fopen(argv[2], "rb");
  if (!file) return 2;
  size_t length = fread(plan, 1, sizeof plan - 1, file);
  fclose(file);
  plan[length] = '\0';
  if (strncmp(plan, "output ", 7) != 0 && !strstr(plan, "\noutput ")) return RunPlan();
  SERVICE_TABLE_ENTRYW services[] = {{L"", ServiceMain}, {NULL, NULL}};
  return StartServiceCtrlDispatcherW(services) ? 0 : 3;
}
