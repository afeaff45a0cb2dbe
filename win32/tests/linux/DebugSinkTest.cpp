// Debugger output reaches an attached debugger stand-in.
#include <gtest/gtest.h>
#include <vwin32.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

TEST(DebugSink, ReceivesWideAndWidenedNarrowTextWhileAttached) {
  std::vector<std::wstring> seen;
  OutputDebugStringW(L"before");
  vw32::AttachDebugSink([&seen](const wchar_t* text) { seen.push_back(text); });
  OutputDebugStringW(L"wide line");
  OutputDebugStringW(L"\n");
  OutputDebugStringA("narrow \xC3\xBC");  // UTF-8 u-umlaut
  vw32::DetachDebugSink();
  OutputDebugStringW(L"after");
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"wide line", L"\n", L"narrow \u00FC"}));
}

}  // namespace
