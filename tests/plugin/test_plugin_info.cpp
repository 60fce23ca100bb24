#include <gtest/gtest.h>

#include <cstring>

#include "plugin/PluginInfo.h"

namespace {

// The record's first 72 bytes are read by hosts as raw memory.
TEST(PluginInfo, FieldsSitAtTheOffsetsHostsRead) {
  static const char block[4] = {1, 2, 3, 4};
  CFFGLPluginInfo info(nullptr, "MRD1", "Mirandel Link", 2, 1, 1, 1, FF_SOURCE, "desc", "about", 4,
                       block);
  const auto* bytes = reinterpret_cast<const unsigned char*>(info.GetPluginInfo());
  auto at = [&](auto value, int offset) {
    std::memcpy(&value, bytes + offset, sizeof value);
    return value;
  };
  EXPECT_EQ(at(FFUInt32{}, 0), 2u);
  EXPECT_EQ(at(FFUInt32{}, 4), 1u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes + 8), 4), "MRD1");
  EXPECT_STREQ(reinterpret_cast<const char*>(bytes + 12), "Mirandel Link");
  EXPECT_EQ(at(FFUInt32{}, 28), FF_SOURCE);
  EXPECT_EQ(reinterpret_cast<const unsigned char*>(info.GetPluginExtendedInfo()), bytes + 32);
  EXPECT_STREQ(at(static_cast<const char*>(nullptr), 40), "desc");
  EXPECT_EQ(at(FFUInt32{}, 56), 4u);
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
