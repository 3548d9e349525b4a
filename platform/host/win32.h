// The Win32 names this program uses, for the stand-in: hosts without
// Windows, and drvdb on every host.
//
// Types, constants and functions keep their Windows spelling and meaning so
// that the program's code is the same on every target. The functions are
// implemented by the stand-in beside this file (registry.cpp, mutex.cpp,
// libraries.cpp, faults.cpp) and by the message box's host seam; the
// headers beside it give the host its controls, one header per role.
// No translation unit includes both this and <windows.h>, and no name here
// is one that Windows gives linkage to: the structures have tags of their
// own and the functions C++ linkage, so drvdb.exe carries the stand-in
// beside the real API without the two ever meeting.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI

typedef int BOOL;
typedef uint8_t BYTE;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef unsigned int UINT;
typedef DWORD REGSAM;
typedef char16_t WCHAR;
typedef char CHAR;
typedef BYTE* LPBYTE;
typedef DWORD* LPDWORD;
typedef const char* LPCSTR;
typedef char* LPSTR;

typedef void* HANDLE;

struct HostModule;
typedef HostModule* HMODULE;
struct HostWindow;
typedef HostWindow* HWND;
typedef intptr_t(WINAPI* FARPROC)();

struct HostKeyHandle;
typedef HostKeyHandle* HKEY;
typedef HKEY* PHKEY;

typedef struct HostFileTime {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
} FILETIME, *PFILETIME;

typedef struct HostSecurityAttributes {
  DWORD nLength;
  void* lpSecurityDescriptor;
  BOOL bInheritHandle;
} SECURITY_ATTRIBUTES, *LPSECURITY_ATTRIBUTES;

typedef struct HostVersionInfo {
  DWORD dwOSVersionInfoSize;
  DWORD dwMajorVersion;
  DWORD dwMinorVersion;
  DWORD dwBuildNumber;
  DWORD dwPlatformId;
  CHAR szCSDVersion[128];
} OSVERSIONINFOA, *LPOSVERSIONINFOA;

#define HKEY_CLASSES_ROOT ((HKEY)(uintptr_t)0x80000000u)
#define HKEY_CURRENT_USER ((HKEY)(uintptr_t)0x80000001u)
#define HKEY_LOCAL_MACHINE ((HKEY)(uintptr_t)0x80000002u)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_KEY_DELETED 1018L

#define DELETE 0x00010000L
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_READ 0x20019
#define KEY_WRITE 0x20006
#define KEY_ALL_ACCESS 0xF003F

#define REG_NONE 0
#define REG_SZ 1
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_OPTION_NON_VOLATILE 0
#define REG_CREATED_NEW_KEY 1
#define REG_OPENED_EXISTING_KEY 2

#define FALSE 0
#define WAIT_OBJECT_0 0x00000000L
#define WAIT_ABANDONED 0x00000080L
#define WAIT_TIMEOUT 0x00000102L
#define WAIT_FAILED 0xFFFFFFFFL

#define MAX_PATH 260
#define LOAD_LIBRARY_SEARCH_SYSTEM32 0x00000800

#define VER_PLATFORM_WIN32_WINDOWS 1
#define VER_PLATFORM_WIN32_NT 2

LONG RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access,
                   PHKEY result);
LONG RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass,
                     DWORD options, REGSAM access,
                     LPSECURITY_ATTRIBUTES security, PHKEY result,
                     LPDWORD disposition);
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved,
                      LPDWORD type, LPBYTE data, LPDWORD dataSize);
LONG RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                    const BYTE* data, DWORD dataSize);
LONG RegEnumKeyExA(HKEY key, DWORD index, LPSTR name, LPDWORD nameSize,
                   LPDWORD reserved, LPSTR keyClass, LPDWORD classSize,
                   PFILETIME lastWriteTime);
LONG RegDeleteKeyA(HKEY key, LPCSTR subKey);
LONG RegDeleteValueA(HKEY key, LPCSTR valueName);
LONG RegCloseKey(HKEY key);
BOOL GetVersionExA(LPOSVERSIONINFOA info);
/// The shell library's whole-tree deletion (shlwapi.dll on Windows).
DWORD SHDeleteKeyA(HKEY key, LPCSTR subKey);

// The system's libraries and their functions, as each Windows answers
// (libraries.h).
HMODULE GetModuleHandleA(LPCSTR name);
FARPROC GetProcAddress(HMODULE module, LPCSTR name);
HMODULE LoadLibraryA(LPCSTR name);
HMODULE LoadLibraryExA(LPCSTR name, HANDLE file, DWORD flags);
UINT GetSystemDirectoryA(LPSTR buffer, UINT size);

// user32's box (setup/message_box_host.cpp, which records it).
int MessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT style);

// Named mutexes, within this process (mutex.h).
HANDLE CreateMutexA(LPSECURITY_ATTRIBUTES security, BOOL initialOwner,
                    LPCSTR name);
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);
BOOL ReleaseMutex(HANDLE mutex);
BOOL CloseHandle(HANDLE handle);
