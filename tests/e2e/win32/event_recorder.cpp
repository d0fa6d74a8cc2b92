// zkq_e2e_event_recorder.dll: loaded into the running program (the service
// probe's "inject" command starts LoadLibraryW in it), it redirects the
// executable's import of ReportEventW to a recorder that appends each entry
// (type, category, event ID, strings) as one UTF-8 JSON line to the file
// beside this DLL with the extension .jsonl, then calls the real function.
// Wine's event log discards entries, so this is where a test can see them.
#include <windows.h>

#include <cstring>
#include <cwchar>
#include <string>

namespace {

using ReportEventWFn = BOOL(WINAPI*)(HANDLE, WORD, WORD, DWORD, PSID, WORD, DWORD, LPCWSTR*,
                                     LPVOID);
ReportEventWFn gReal = nullptr;
wchar_t gRecordPath[MAX_PATH] = {};
CRITICAL_SECTION gLock;

void AppendJsonString(std::string& out, const wchar_t* text) {
  out += '"';
  if (text != nullptr) {
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(size > 0 ? size - 1 : 0, '\0');
    if (size > 1) WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr, nullptr);
    for (const char c : utf8) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += c;
      } else if (c == '\r') {
        out += "\\r";
      } else if (c == '\n') {
        out += "\\n";
      } else {
        out += c;
      }
    }
  }
  out += '"';
}

BOOL WINAPI RecordReportEvent(HANDLE source, WORD type, WORD category, DWORD eventId, PSID user,
                              WORD count, DWORD dataSize, LPCWSTR* strings, LPVOID data) {
  std::string line = "{\"type\": " + std::to_string(type) +
                     ", \"category\": " + std::to_string(category) +
                     ", \"event\": " + std::to_string(eventId) + ", \"strings\": [";
  for (WORD i = 0; i < count && strings != nullptr; ++i) {
    if (i > 0) line += ", ";
    AppendJsonString(line, strings[i]);
  }
  line += "]}\n";
  EnterCriticalSection(&gLock);
  const HANDLE file = CreateFileW(gRecordPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    DWORD written = 0;
    WriteFile(file, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
    CloseHandle(file);
  }
  LeaveCriticalSection(&gLock);
  return gReal(source, type, category, eventId, user, count, dataSize, strings, data);
}

// Points the executable's import slot of advapi32!ReportEventW at the recorder.
bool PatchImport() {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) return false;
  const HMODULE advapi = GetModuleHandleW(L"advapi32.dll");
  const FARPROC target = advapi ? GetProcAddress(advapi, "ReportEventW") : nullptr;
  for (auto* imp = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       imp->Name != 0; ++imp) {
    if (_stricmp(reinterpret_cast<const char*>(base + imp->Name), "advapi32.dll") != 0) continue;
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + imp->FirstThunk);
    const auto* names = reinterpret_cast<const IMAGE_THUNK_DATA*>(
        base + (imp->OriginalFirstThunk ? imp->OriginalFirstThunk : imp->FirstThunk));
    for (; names->u1.AddressOfData != 0; ++slot, ++names) {
      const bool byName = !IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal) &&
                          std::strcmp(reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(
                                          base + names->u1.AddressOfData)->Name,
                                      "ReportEventW") == 0;
      if (!byName && reinterpret_cast<FARPROC>(slot->u1.Function) != target) continue;
      gReal = reinterpret_cast<ReportEventWFn>(slot->u1.Function);
      DWORD old = 0;
      if (!VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), PAGE_READWRITE, &old))
        return false;
      slot->u1.Function = reinterpret_cast<ULONG_PTR>(&RecordReportEvent);
      VirtualProtect(&slot->u1.Function, sizeof(slot->u1.Function), old, &old);
      return true;
    }
  }
  return false;
}

}  // namespace

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  InitializeCriticalSection(&gLock);
  const DWORD length = GetModuleFileNameW(self, gRecordPath, MAX_PATH - 8);
  wchar_t* dot = length ? std::wcsrchr(gRecordPath, L'.') : nullptr;
  if (dot == nullptr) return FALSE;
  std::wcscpy(dot, L".jsonl");
  // The redirected slot must never point into an unloaded DLL: stay loaded.
  HMODULE pinned = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN | GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                     reinterpret_cast<LPCWSTR>(&DllMain), &pinned);
  // Refusing to load tells the injector the import was not found.
  return PatchImport() ? TRUE : FALSE;
}
