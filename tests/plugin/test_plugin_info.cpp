#include <gtest/gtest.h>

#include <cstring>

#include "plugin/PluginInfo.h"

namespace {

// The record's first 72 bytes are read by hosts as raw memory.
TEST(PluginInfo, FieldsSitAtTheOffsetsHostsRead) {
  static const char block[4] = {1, 2, 3, 4};
  CFFGLPluginInfo info(nullptr, "MRD1", "Mirandel Link", 2, 1, 1, 1, FF_SOURCE, "desc", "about",
                       4, block);
  const auto* bytes = reinterpret_cast<const unsigned char*>(info.GetPluginInfo());
  FFUInt32 u;
  std::memcpy(&u, bytes + 0, 4);
  EXPECT_EQ(u, 2u);
  std::memcpy(&u, bytes + 4, 4);
  EXPECT_EQ(u, 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 8), 4), "MRD1");
  EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 12), "Mirandel Link");
  std::memcpy(&u, bytes + 28, 4);
  EXPECT_EQ(u, FF_SOURCE);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(info.GetPluginExtendedInfo()), bytes + 32);
  const char* description;
  std::memcpy(&description, bytes + 40, 8);
  EXPECT_STREQ(description, "desc");
  std::memcpy(&u, bytes + 56, 4);
  EXPECT_EQ(u, 4u);
  EXPECT_EQ(CFFGLPluginInfo::Current(), &info);
}

// The identifier is four bytes without terminator; a 16-byte name fills its
// field with no terminator; an extended block needs both size and pointer.
TEST(PluginInfo, IdentifierAndNameAreCutToTheirFields) {
  CFFGLPluginInfo longName(nullptr, "AB\0CD", "ABCDEFGHIJKLMNOPQRS", 2, 1, 1, 1, FF_SOURCE, "", "",
                           8, nullptr);
  const PluginInfoStruct* info = longName.GetPluginInfo();
  EXPECT_EQ(std::string(info->PluginUniqueID, 4), std::string("AB\0\0", 4));
  EXPECT_EQ(std::string(info->PluginName, 16), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(longName.GetPluginExtendedInfo()->FreeFrameExtendedDataSize, 0u);
  EXPECT_EQ(longName.GetPluginExtendedInfo()->FreeFrameExtendedDataBlock, nullptr);
}

}  // namespace
