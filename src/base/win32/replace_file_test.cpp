// The file seam's rewrite against Windows' own file calls.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <thread>

#include "base/files.h"
#include "base/testing/scratch_folder.h"
#include "base/win32/handles.h"

namespace zkq {
namespace {

namespace fs = std::filesystem;
using win32::UniqueKernelHandle;

// A scanner's or backup agent's handle: it shares reading and writing, not deletion.
UniqueKernelHandle Hold(const fs::path& path) {
  return UniqueKernelHandle(CreateFileW(path.c_str(), GENERIC_READ,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                        0, nullptr));
}

bool UnderWine() {
  return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(ReplaceFileAtomically, WaitsForAnotherProgramsHandleAndKeepsTheOldFileWhileItStays) {
  test_support::ScratchFolder folder("zkq-replace-");
  const fs::path path = folder.Path() / "zkQuorvane.ini";
  ASSERT_TRUE(ReplaceFileAtomically(path, "old")) << "a new file";
  ASSERT_TRUE(SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_HIDDEN));

  UniqueKernelHandle held = Hold(path);
  ASSERT_TRUE(held);
  const auto began = std::chrono::steady_clock::now();
  std::thread release([&held] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    held.Reset();
  });
  const bool replaced = ReplaceFileAtomically(path, "new");
  release.join();
  EXPECT_TRUE(replaced) << "once the handle is closed";
  EXPECT_GE(std::chrono::steady_clock::now() - began, std::chrono::milliseconds(250));
  EXPECT_EQ(ReadWholeFile(path), "new");
  // Wine's ReplaceFileW renames and loses the attributes; Windows keeps them.
  if (!UnderWine()) {
    EXPECT_TRUE(GetFileAttributesW(path.c_str()) & FILE_ATTRIBUTE_HIDDEN);
  }

  held = Hold(path);
  ASSERT_TRUE(held);
  EXPECT_FALSE(ReplaceFileAtomically(path, "newer")) << "a handle that is never closed";
  held.Reset();
  EXPECT_EQ(ReadWholeFile(path), "new");
  EXPECT_EQ(std::distance(fs::directory_iterator(folder.Path()), fs::directory_iterator()), 1)
      << "no temporary or backup file left";
}

}  // namespace
}  // namespace zkq
