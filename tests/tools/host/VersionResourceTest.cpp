// The DLL's version resource, read back the way Windows' file properties read
// it, against the information record that hosts read through plugMain.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/host/FfglHost.h"
#include "tools/host/PluginLibrary.h"

namespace mirandel::host {
namespace {

std::wstring wide(const std::string& s) { return std::wstring(s.begin(), s.end()); }

// The value of one string of the resource's U.S. English, Unicode table.
std::string versionString(const std::vector<char>& block, const char* name) {
  void* value = nullptr;
  UINT length = 0;
  const std::wstring path = L"\\StringFileInfo\\040904B0\\" + wide(name);
  if (!VerQueryValueW(block.data(), path.c_str(), &value, &length) || length == 0) return "(none)";
  const std::wstring text(static_cast<const wchar_t*>(value), length - 1);
  return std::string(text.begin(), text.end());  // ASCII by design
}

// Guards against a DLL that Windows shows without a version, or with one that
// is not the version hosts are told: support asks users for what the file's
// properties say, and it must name the same build as the information record.
TEST(VersionResource, NamesTheProductAndTheInformationRecordsVersion) {
  std::string error;
  auto library = PluginLibrary::open(MIRANDEL_PLUGIN_FILE, &error, PluginLibrary::Unload::kNever);
  ASSERT_TRUE(library) << error;
  const auto info = FfglHost(*library).info();
  ASSERT_TRUE(info);
  const std::string recordVersion =
      std::to_string(info->pluginMajor) + "." + std::to_string(info->pluginMinor);

  const std::wstring file = wide(MIRANDEL_PLUGIN_FILE);
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &handle);
  ASSERT_GT(size, 0u) << "no version resource";
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(file.c_str(), 0, size, block.data()));

  EXPECT_EQ(versionString(block, "ProductName"), "Mirandel Link");
  EXPECT_EQ(versionString(block, "FileVersion"), recordVersion);
  EXPECT_EQ(versionString(block, "ProductVersion"), recordVersion);
  EXPECT_EQ(versionString(block, "OriginalFilename"), "MirandelLink.dll");
  EXPECT_NE(versionString(block, "FileDescription").find("Mirandel Link"), std::string::npos);

  // The numbers Explorer shows beside the texts.
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwFileVersionMS, (info->pluginMajor << 16) | info->pluginMinor);
  EXPECT_EQ(fixed->dwProductVersionMS, (info->pluginMajor << 16) | info->pluginMinor);
}

}  // namespace
}  // namespace mirandel::host
