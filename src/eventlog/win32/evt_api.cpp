#include "eventlog/win32/evt_api.h"

#include <cstring>

#include "base/win32/wide.h"
#include "eventlog/binxml.h"
#include "eventlog/win32/adapters.h"

namespace zkq {

using win32::FromWide;
using win32::ToWide;

namespace {

// One EvtNext waits this long at most: a service that does not answer makes
// a failed reading, not a program that hangs.
constexpr DWORD kNextTimeoutMs = 60000;

template <typename T>
T Function(HMODULE module, const char* name) {
  return reinterpret_cast<T>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

EVT_HANDLE Handle(EvtHandle handle) { return reinterpret_cast<EVT_HANDLE>(handle); }
EvtHandle Ours(EVT_HANDLE handle) { return reinterpret_cast<EvtHandle>(handle); }

void AppendBytes(std::vector<std::uint8_t>& out, const void* data, std::size_t size) {
  if (data == nullptr) return;
  const auto* p = static_cast<const std::uint8_t*>(data);
  out.insert(out.end(), p, p + size);
}

void AppendSid(std::vector<std::uint8_t>& out, PSID sid) {
  if (sid != nullptr && IsValidSid(sid)) AppendBytes(out, sid, GetLengthSid(sid));
}

// The size of one item of a type held in the variant itself (or, for an
// array, in the array it points to); 0 for the others.
std::size_t InlineSize(DWORD type) {
  switch (type) {
    case EvtVarTypeSByte:
    case EvtVarTypeByte:
      return 1;
    case EvtVarTypeInt16:
    case EvtVarTypeUInt16:
      return 2;
    case EvtVarTypeInt32:
    case EvtVarTypeUInt32:
    case EvtVarTypeHexInt32:
    case EvtVarTypeSingle:
    case EvtVarTypeBoolean:
      return 4;
    case EvtVarTypeInt64:
    case EvtVarTypeUInt64:
    case EvtVarTypeHexInt64:
    case EvtVarTypeDouble:
    case EvtVarTypeFileTime:
      return 8;
    case EvtVarTypeSizeT:
      return sizeof(std::size_t);
    case EvtVarTypeGuid:
    case EvtVarTypeSysTime:
      return 16;
    default:
      return 0;
  }
}

std::uint64_t NumberOf(const EVT_VARIANT& v) {
  switch (v.Type) {
    case EvtVarTypeSByte:
    case EvtVarTypeByte:
      return v.ByteVal;
    case EvtVarTypeInt16:
    case EvtVarTypeUInt16:
      return v.UInt16Val;
    case EvtVarTypeInt32:
    case EvtVarTypeUInt32:
    case EvtVarTypeHexInt32:
      return v.UInt32Val;
    case EvtVarTypeInt64:
    case EvtVarTypeUInt64:
    case EvtVarTypeHexInt64:
    case EvtVarTypeFileTime:
      return v.UInt64Val;
    default:
      return 0;
  }
}

std::u16string StringOf(const EVT_VARIANT& v) {
  if (v.Type != EvtVarTypeString || v.StringVal == nullptr) return {};
  return FromWide(v.StringVal, wcslen(v.StringVal));
}

}  // namespace

void AppendEvtVariantText(std::u16string& out, const EVT_VARIANT& v) {
  const DWORD type = v.Type & EVT_VARIANT_TYPE_MASK;
  const bool array = (v.Type & EVT_VARIANT_TYPE_ARRAY) != 0;
  std::vector<std::uint8_t> bytes;
  // The byte layout of the same value in Binary XML, whose type codes these are.
  std::uint8_t binXmlType = static_cast<std::uint8_t>(type);
  switch (type) {
    case EvtVarTypeNull:
    case EvtVarTypeEvtHandle:
      return;
    case EvtVarTypeString:
    case EvtVarTypeEvtXml:
      binXmlType = kBinXmlString;
      if (!array) {
        if (v.StringVal != nullptr) AppendBytes(bytes, v.StringVal, 2 * wcslen(v.StringVal));
        break;
      }
      for (DWORD i = 0; v.StringArr != nullptr && i < v.Count; ++i) {
        if (i != 0) bytes.insert(bytes.end(), 2, 0);
        if (v.StringArr[i] != nullptr) {
          AppendBytes(bytes, v.StringArr[i], 2 * wcslen(v.StringArr[i]));
        }
      }
      break;
    case EvtVarTypeAnsiString:
      if (!array) {
        if (v.AnsiStringVal != nullptr)
          AppendBytes(bytes, v.AnsiStringVal, strlen(v.AnsiStringVal));
        break;
      }
      for (DWORD i = 0; v.AnsiStringArr != nullptr && i < v.Count; ++i) {
        if (i != 0) bytes.push_back(0);
        if (v.AnsiStringArr[i] != nullptr) {
          AppendBytes(bytes, v.AnsiStringArr[i], strlen(v.AnsiStringArr[i]));
        }
      }
      break;
    case EvtVarTypeBinary:
      AppendBytes(bytes, v.BinaryVal, v.Count);
      break;
    case EvtVarTypeSid:
      if (!array) {
        AppendSid(bytes, v.SidVal);
        break;
      }
      for (DWORD i = 0; v.SidArr != nullptr && i < v.Count; ++i) AppendSid(bytes, v.SidArr[i]);
      break;
    default: {
      const std::size_t size = InlineSize(type);
      if (size == 0) return;
      // GUIDs and times are held by pointer; the other scalars in the variant.
      const bool pointed = type == EvtVarTypeGuid || type == EvtVarTypeSysTime;
      if (array) {
        AppendBytes(bytes, v.ByteArr, size * v.Count);
      } else {
        const void* pointer = type == EvtVarTypeGuid ? static_cast<const void*>(v.GuidVal)
                                                     : static_cast<const void*>(v.SysTimeVal);
        AppendBytes(bytes, pointed ? pointer : &v, size);
      }
    }
  }
  AppendBinXmlValueText(
      out, {static_cast<std::uint8_t>(binXmlType | (array ? kBinXmlArray : 0)), bytes});
}

struct WindowsEvtApi::Functions {
  decltype(&::EvtQuery) query;
  decltype(&::EvtNext) next;
  decltype(&::EvtRender) render;
  decltype(&::EvtCreateRenderContext) createRenderContext;
  decltype(&::EvtClose) close;
  decltype(&::EvtOpenPublisherMetadata) openPublisherMetadata;
  decltype(&::EvtFormatMessage) formatMessage;
  decltype(&::EvtOpenChannelEnum) openChannelEnum;
  decltype(&::EvtNextChannelPath) nextChannelPath;
};

WindowsEvtApi::WindowsEvtApi() = default;

WindowsEvtApi::~WindowsEvtApi() {
  if (!functions_) return;
  for (EVT_HANDLE context : {systemContext_, userContext_, sourceNameContext_}) {
    if (context != nullptr) functions_->close(context);
  }
}

bool WindowsEvtApi::Load() {
  if (loadTried_) return functions_ != nullptr;
  loadTried_ = true;
  // From the system folder only: a wevtapi.dll beside the program or in the
  // current folder is never loaded.
  HMODULE module = LoadLibraryExW(L"wevtapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    // A Windows 7 without the update that knows the flag: the full path.
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
    if (length != 0 && length < MAX_PATH) {
      module = LoadLibraryExW((std::wstring(folder, length) + L"\\wevtapi.dll").c_str(), nullptr,
                              LOAD_WITH_ALTERED_SEARCH_PATH);
    }
  }
  if (module == nullptr) return false;
  module_.Reset(module);
  auto f = std::make_unique<Functions>();
  f->query = Function<decltype(f->query)>(module, "EvtQuery");
  f->next = Function<decltype(f->next)>(module, "EvtNext");
  f->render = Function<decltype(f->render)>(module, "EvtRender");
  f->createRenderContext =
      Function<decltype(f->createRenderContext)>(module, "EvtCreateRenderContext");
  f->close = Function<decltype(f->close)>(module, "EvtClose");
  f->openPublisherMetadata =
      Function<decltype(f->openPublisherMetadata)>(module, "EvtOpenPublisherMetadata");
  f->formatMessage = Function<decltype(f->formatMessage)>(module, "EvtFormatMessage");
  f->openChannelEnum = Function<decltype(f->openChannelEnum)>(module, "EvtOpenChannelEnum");
  f->nextChannelPath = Function<decltype(f->nextChannelPath)>(module, "EvtNextChannelPath");
  if (!f->query || !f->next || !f->render || !f->createRenderContext || !f->close ||
      !f->openPublisherMetadata || !f->formatMessage || !f->openChannelEnum ||
      !f->nextChannelPath) {
    return false;
  }
  functions_ = std::move(f);
  return true;
}

EvtHandle WindowsEvtApi::Query(std::u16string_view server, std::u16string_view channel,
                               std::u16string_view xpath, EvtDirection direction,
                               std::uint32_t& error) {
  // The channels are read on this computer: a remote one would need a
  // session of its own, which is not opened.
  if (!IsLocalComputer(ToWide(server))) {
    error = ERROR_NOT_SUPPORTED;
    return 0;
  }
  if (!Load()) {
    error = ERROR_CALL_NOT_IMPLEMENTED;
    return 0;
  }
  const DWORD flags =
      EvtQueryChannelPath |
      (direction == EvtDirection::Forward ? EvtQueryForwardDirection : EvtQueryReverseDirection);
  SetLastError(ERROR_SUCCESS);
  const EVT_HANDLE results =
      functions_->query(nullptr, ToWide(channel).c_str(), ToWide(xpath).c_str(), flags);
  if (results == nullptr) {
    error = GetLastError();
    // A stub that fails without saying why is no API either.
    if (error == ERROR_SUCCESS) error = ERROR_CALL_NOT_IMPLEMENTED;
    return 0;
  }
  answered_ = true;
  return Ours(results);
}

std::uint32_t WindowsEvtApi::Next(EvtHandle results, std::size_t count,
                                  std::vector<EvtHandle>& events) {
  events.clear();
  if (!answered_) return ERROR_CALL_NOT_IMPLEMENTED;
  std::vector<EVT_HANDLE> handles(count);
  DWORD returned = 0;
  if (!functions_->next(Handle(results), static_cast<DWORD>(count), handles.data(), kNextTimeoutMs,
                        0, &returned)) {
    const DWORD error = GetLastError();
    return error == ERROR_SUCCESS ? ERROR_INVALID_DATA : error;
  }
  for (DWORD i = 0; i < returned && i < count; ++i) events.push_back(Ours(handles[i]));
  return 0;
}

EVT_HANDLE WindowsEvtApi::Context(EVT_HANDLE& context, DWORD flags, const wchar_t* path) {
  if (context == nullptr) {
    LPCWSTR paths[] = {path};
    context = functions_->createRenderContext(path ? 1 : 0, path ? paths : nullptr, flags);
  }
  return context;
}

std::uint32_t WindowsEvtApi::RenderValues(EVT_HANDLE context, EVT_HANDLE event, DWORD& count) {
  if (context == nullptr) {
    const DWORD error = GetLastError();
    return error != ERROR_SUCCESS ? error : ERROR_INVALID_HANDLE;
  }
  if (values_.empty()) values_.resize(64);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD used = 0;
    count = 0;
    const DWORD size = static_cast<DWORD>(values_.size() * sizeof(EVT_VARIANT));
    if (functions_->render(context, event, EvtRenderEventValues, size, values_.data(), &used,
                           &count)) {
      if (count > values_.size()) count = static_cast<DWORD>(values_.size());
      return 0;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return error;
    // The values are followed by the texts they point to.
    values_.resize(used / sizeof(EVT_VARIANT) + 1);
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

std::uint32_t WindowsEvtApi::Render(EvtHandle handle, EvtxEvent& out, std::u16string& channel) {
  if (!answered_) return ERROR_CALL_NOT_IMPLEMENTED;
  const EVT_HANDLE event = Handle(handle);
  DWORD count = 0;
  std::uint32_t code =
      RenderValues(Context(systemContext_, EvtRenderContextSystem, nullptr), event, count);
  if (code != 0) return code;
  if (count < static_cast<DWORD>(EvtSystemPropertyIdEND)) return ERROR_INVALID_DATA;
  const EVT_VARIANT* v = values_.data();
  out.provider = StringOf(v[EvtSystemProviderName]);
  out.eventId = static_cast<std::uint16_t>(NumberOf(v[EvtSystemEventID]));
  out.qualifiers = static_cast<std::uint16_t>(NumberOf(v[EvtSystemQualifiers]));
  out.level = static_cast<std::uint8_t>(NumberOf(v[EvtSystemLevel]));
  out.task = static_cast<std::uint16_t>(NumberOf(v[EvtSystemTask]));
  out.keywords = NumberOf(v[EvtSystemKeywords]);
  out.timeCreated = NumberOf(v[EvtSystemTimeCreated]);
  out.recordId = NumberOf(v[EvtSystemEventRecordId]);
  channel = StringOf(v[EvtSystemChannel]);
  out.computer = StringOf(v[EvtSystemComputer]);
  out.userSid.clear();
  if (v[EvtSystemUserID].Type == EvtVarTypeSid && v[EvtSystemUserID].SidVal != nullptr &&
      IsValidSid(v[EvtSystemUserID].SidVal)) {
    const auto* sid = static_cast<const std::uint8_t*>(v[EvtSystemUserID].SidVal);
    out.userSid.assign(sid, sid + GetLengthSid(v[EvtSystemUserID].SidVal));
  }

  // A classic source writing through its provider is shown by the source's name.
  code = RenderValues(Context(sourceNameContext_, EvtRenderContextValues,
                              L"Event/System/Provider/@EventSourceName"),
                      event, count);
  if (code != 0) return code;
  out.eventSourceName = count >= 1 ? StringOf(values_[0]) : std::u16string();

  code = RenderValues(Context(userContext_, EvtRenderContextUser, nullptr), event, count);
  if (code != 0) return code;
  out.strings.clear();
  out.stringCount = 0;
  for (DWORD i = 0; i < count; ++i) {
    AppendEvtVariantText(out.strings, values_[i]);
    out.strings.push_back(u'\0');
    ++out.stringCount;
  }
  return 0;
}

std::uint32_t WindowsEvtApi::RenderXml(EvtHandle event, std::u16string& xml) {
  if (!answered_) return ERROR_CALL_NOT_IMPLEMENTED;
  if (text_.empty()) text_.resize(4096);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD used = 0, count = 0;
    const DWORD size = static_cast<DWORD>(text_.size() * sizeof(wchar_t));
    if (functions_->render(nullptr, Handle(event), EvtRenderEventXml, size, text_.data(), &used,
                           &count)) {
      xml = FromWide(text_.data(), wcsnlen(text_.data(), text_.size()));
      return 0;
    }
    const DWORD error = GetLastError();
    if (error != ERROR_INSUFFICIENT_BUFFER) return error;
    text_.resize(used / sizeof(wchar_t) + 1);
  }
  return ERROR_INSUFFICIENT_BUFFER;
}

void WindowsEvtApi::Close(EvtHandle handle) {
  if (functions_ && handle != 0) functions_->close(Handle(handle));
}

EvtHandle WindowsEvtApi::OpenPublisherMetadata(std::u16string_view provider, std::uint32_t& error) {
  if (!answered_) {
    error = ERROR_CALL_NOT_IMPLEMENTED;
    return 0;
  }
  // Locale 0: the language of the calling thread, as the user reads it.
  const EVT_HANDLE metadata =
      functions_->openPublisherMetadata(nullptr, ToWide(provider).c_str(), nullptr, 0, 0);
  if (metadata == nullptr) error = GetLastError();
  return Ours(metadata);
}

std::optional<std::u16string> WindowsEvtApi::FormatEventMessage(EvtHandle metadata, EvtHandle event,
                                                                EvtMessageKind kind) {
  if (!answered_) return std::nullopt;
  const DWORD flags = kind == EvtMessageKind::Event ? EvtFormatMessageEvent : EvtFormatMessageTask;
  if (text_.empty()) text_.resize(4096);
  for (int attempt = 0; attempt < 3; ++attempt) {
    DWORD used = 0;
    const DWORD size = static_cast<DWORD>(text_.size());  // in characters
    text_[0] = L'\0';
    const BOOL done = functions_->formatMessage(Handle(metadata), Handle(event), 0, 0, nullptr,
                                                flags, size, text_.data(), &used);
    const DWORD error = done ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_INSUFFICIENT_BUFFER) {
      text_.resize(used + 1);
      continue;
    }
    // A value or parameter the message names but the event lacks leaves its
    // insert as written: the message is still the one to show.
    if (error == ERROR_SUCCESS || error == ERROR_EVT_UNRESOLVED_VALUE_INSERT ||
        error == ERROR_EVT_UNRESOLVED_PARAMETER_INSERT || error == ERROR_EVT_MAX_INSERTS_REACHED) {
      const std::size_t length = wcsnlen(text_.data(), text_.size());
      if (length == 0) return std::nullopt;
      return FromWide(text_.data(), length);
    }
    return std::nullopt;
  }
  return std::nullopt;
}

std::uint32_t WindowsEvtApi::ChannelPaths(std::vector<std::u16string>& names) {
  if (!answered_) return ERROR_CALL_NOT_IMPLEMENTED;
  const EVT_HANDLE channels = functions_->openChannelEnum(nullptr, 0);
  if (channels == nullptr) return GetLastError();
  if (text_.empty()) text_.resize(4096);
  DWORD error = ERROR_SUCCESS;
  for (;;) {
    DWORD used = 0;
    if (functions_->nextChannelPath(channels, static_cast<DWORD>(text_.size()), text_.data(),
                                    &used)) {
      names.push_back(FromWide(text_.data(), wcsnlen(text_.data(), text_.size())));
      continue;
    }
    error = GetLastError();
    if (error == ERROR_INSUFFICIENT_BUFFER && used >= text_.size()) {
      text_.resize(used + 1);
      continue;
    }
    break;
  }
  functions_->close(channels);
  return error == ERROR_NO_MORE_ITEMS ? 0 : error;
}

}  // namespace zkq
