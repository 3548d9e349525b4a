/* The floor: exactly the registry calls that installing a database makes,
   replayed from a table (floor.tbl in the current folder, written by
   floortable), with no parsing and no library beyond kernel32 and advapi32.
   Built without the C runtime: nothing runs before or after the calls. */

#include <windows.h>

static DWORD Get32(const BYTE* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | (DWORD)p[3] << 24;
}

void Start(void) {
  HANDLE file = CreateFileA("floor.tbl", GENERIC_READ, FILE_SHARE_READ, NULL,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE)
    ExitProcess(2);
  DWORD size = GetFileSize(file, NULL), got = 0;
  BYTE* table = HeapAlloc(GetProcessHeap(), 0, size);
  if (!table || !ReadFile(file, table, size, &got, NULL) || got != size)
    ExitProcess(2);
  CloseHandle(file);
  static const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER,
                               HKEY_CLASSES_ROOT};
  HKEY key = NULL;
  const BYTE* p = table;
  UINT status = 0;
  while (*p != 'E') {
    if (*p == 'K') {
      if (key)
        RegCloseKey(key);
      key = NULL;
      DWORD disposition;
      if (RegCreateKeyExA(roots[p[1]], (const char*)p + 6, 0, NULL, 0,
                          KEY_SET_VALUE, NULL, &key, &disposition))
        status = 3;
      p += 6 + Get32(p + 2);
    } else {
      DWORD nameSize = Get32(p + 1);
      const char* name = (const char*)p + 5;
      DWORD type = Get32(p + 5 + nameSize);
      DWORD dataSize = Get32(p + 9 + nameSize);
      if (RegSetValueExA(key, name, 0, type, p + 13 + nameSize, dataSize))
        status = 3;
      p += 13 + nameSize + dataSize;
    }
  }
  if (key)
    RegCloseKey(key);
  ExitProcess(status);
}
