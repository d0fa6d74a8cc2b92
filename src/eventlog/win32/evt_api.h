#pragma once
// The Windows Event Log API (wevtapi.dll) behind the EvtApi port.
#include <windows.h>
#include <winevt.h>

#include <memory>
#include <string>
#include <vector>

#include "base/win32/handles.h"
#include "eventlog/channel_log.h"

namespace zkq {

// Appends the text of one rendered value as the .evtx reader shows the same
// value: decimal integers, "0x…" for hex integers, {GUID}, ISO times, S-1-…
// for SIDs, hex digits for binary data (Count bytes), items of an array
// separated by ", ". Null values and handles append nothing.
void AppendEvtVariantText(std::u16string& out, const EVT_VARIANT& value);

// wevtapi.dll, loaded from the system folder at the first query and called
// through GetProcAddress, so that the program starts where it is missing.
// Only EvtQuery is called until a query has succeeded: under Wine the other
// functions are stubs that end the process, and a missing library or
// function answers ERROR_CALL_NOT_IMPLEMENTED as Wine's EvtQuery does.
class WindowsEvtApi final : public EvtApi {
 public:
  WindowsEvtApi();
  ~WindowsEvtApi() override;
  WindowsEvtApi(const WindowsEvtApi&) = delete;
  WindowsEvtApi& operator=(const WindowsEvtApi&) = delete;

  EvtHandle Query(std::u16string_view server, std::u16string_view channel,
                  std::u16string_view xpath, EvtDirection direction, std::uint32_t& error) override;
  std::uint32_t Next(EvtHandle results, std::size_t count, std::vector<EvtHandle>& events) override;
  std::uint32_t Render(EvtHandle event, EvtxEvent& out, std::u16string& channel) override;
  std::uint32_t RenderXml(EvtHandle event, std::u16string& xml) override;
  void Close(EvtHandle handle) override;
  EvtHandle OpenPublisherMetadata(std::u16string_view provider, std::uint32_t& error) override;
  std::optional<std::u16string> FormatEventMessage(EvtHandle metadata, EvtHandle event,
                                                   EvtMessageKind kind) override;
  std::uint32_t ChannelPaths(std::vector<std::u16string>& names) override;

 private:
  struct Functions;
  // False when the library or one of its functions is missing.
  bool Load();
  // EvtRender of values with context into values_; 0 or the error code.
  std::uint32_t RenderValues(EVT_HANDLE context, EVT_HANDLE event, DWORD& count);
  EVT_HANDLE Context(EVT_HANDLE& context, DWORD flags, const wchar_t* path);

  win32::UniqueModule module_;
  std::unique_ptr<Functions> functions_;
  bool loadTried_ = false;
  bool answered_ = false;  // EvtQuery has given a result set
  EVT_HANDLE systemContext_ = nullptr, userContext_ = nullptr, sourceNameContext_ = nullptr;
  std::vector<EVT_VARIANT> values_;
  std::vector<wchar_t> text_;
};

}  // namespace zkq
