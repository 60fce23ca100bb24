#include <gtest/gtest.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "link/DeviceTable.h"

namespace mirandel {
namespace {

std::vector<ControlArg> here(const std::string& name, const std::string& identity = "",
                             const std::string& link = "", bool withLink = true) {
  std::vector<ControlArg> args = {ControlArg::ofText(name), ControlArg::ofText("1.1"),
                                  ControlArg::ofText("extra"), ControlArg::ofText(identity)};
  if (withLink) args.push_back(ControlArg::ofText(link));
  return args;
}

const DeviceRecord& only(const std::vector<DeviceRecord>& list) {
  EXPECT_EQ(list.size(), 1u);
  return list.front();
}

constexpr Nanos kT0 = 100 * kSecond;

// Guards the route classification the wired-over-Wi-Fi preference rests on.
TEST(DeviceTable, ClassifiesRoutesByLinkTextThenByAddress) {
  const std::tuple<const char*, const char*, LinkKind> cases[] = {
      {"wired", "10.0.0.2", LinkKind::Wired},    {"wifi", "169.254.9.9", LinkKind::Wifi},
      {"Wired", "169.254.9.9", LinkKind::Other}, {"usb", "10.0.0.2", LinkKind::Other},
      {"", "169.254.9.9", LinkKind::Wired},      {"", "10.169.254.1", LinkKind::Other},
      {"", "192.168.1.4", LinkKind::Other},
  };
  for (const auto& [link, sender, kind] : cases)
    EXPECT_EQ(classifyRoute(link, sender), kind) << link << " " << sender;
}

// Guards that one phone heard over two routes is one record whose best route is the wired one while
// it is fresh, Wi-Fi after 12 s of wired silence, and wired again as soon as it is heard.
TEST(DeviceTable, PrefersAFreshWiredRouteFallsBackAfterTwelveSecondsAndWinsBack) {
  DeviceTable table;
  table.fold("169.254.1.2", here("Phone", "id-1", "", false), kT0);
  table.fold("10.77.0.2", here("Phone", "id-1", "wifi"), kT0 + kSecond);
  const std::map<std::string, RouteEntry> routes = {{"10.77.0.2", {LinkKind::Wifi, kT0 + kSecond}},
                                                    {"169.254.1.2", {LinkKind::Wired, kT0}}};
  EXPECT_EQ(table.list(), (std::vector<DeviceRecord>{{"id-1", "169.254.1.2", "Phone", "extra",
                                                      kT0 + kSecond, kT0, routes}}));
  // Exactly 12 s of silence is not yet "more than 12 s".
  table.fold("10.77.0.2", here("Phone", "id-1", "wifi"), kT0 + kRouteFreshness);
  EXPECT_EQ(only(table.list()).bestAddress, "169.254.1.2");
  table.fold("10.77.0.2", here("Phone", "id-1", "wifi"), kT0 + kRouteFreshness + 1);
  EXPECT_EQ(only(table.list()).bestAddress, "10.77.0.2");
  table.fold("169.254.1.2", here("Phone", "id-1", "", false), kT0 + 20 * kSecond);
  EXPECT_EQ(only(table.list()).bestAddress, "169.254.1.2");
}

// Guards against flapping between equally good routes.
TEST(DeviceTable, KeepsTheCurrentRouteAmongEqualsAndPicksTheLowestWhenTheBestGoesStale) {
  DeviceTable table;
  table.fold("10.0.0.9", here("P", "id", "other"), kT0);
  table.fold("10.0.0.10", here("P", "id", "other"), kT0 + 1);
  EXPECT_EQ(only(table.list()).bestAddress, "10.0.0.9");
  // When the current best goes stale, the lowest address among equals wins.
  DeviceTable stale;
  stale.fold("169.254.1.2", here("P", "id"), kT0);
  stale.fold("10.0.0.9", here("P", "id", "other"), kT0 + 5 * kSecond);
  stale.fold("10.0.0.10", here("P", "id", "other"), kT0 + 5 * kSecond);
  EXPECT_EQ(only(stale.list()).bestAddress, "169.254.1.2");
  stale.fold("10.0.0.9", here("P", "id", "other"), kT0 + 13 * kSecond);
  EXPECT_EQ(only(stale.list()).bestAddress, "10.0.0.10");  // "10.0.0.10" < "10.0.0.9"
}

// Guards the filing of sparse and odd replies: under the sender, with
// missing or non-text arguments read as empty texts.
TEST(DeviceTable, FilesSparseRepliesUnderTheSender) {
  DeviceTable table;
  table.fold("192.168.1.4", {ControlArg::ofText("Only a name")}, kT0);
  table.fold("192.168.1.5", {}, kT0);  // no arguments: nothing to file
  table.fold("192.168.1.6", {ControlArg::ofInt(3), ControlArg::ofText("x"), ControlArg::ofInt(1)},
             kT0);
  auto filed = [](const std::string& sender, const std::string& name) {
    return DeviceRecord{sender, sender, name, "", kT0, kT0, {{sender, {LinkKind::Other, kT0}}}};
  };
  EXPECT_EQ(table.list(), (std::vector<DeviceRecord>{filed("192.168.1.4", "Only a name"),
                                                     filed("192.168.1.6", "")}));
}

// Guards against unbounded growth from forged replies, each claiming a new identity or replaying
// one identity from a new sender: records and routes stay capped, the least recently seen go (not
// the first in order: the real phone and its wired route sort first), and the real phone stays.
TEST(DeviceTable, FloodsOfForgedIdentitiesAndSendersAreCappedEvictingTheLeastRecentlySeen) {
  DeviceTable table({/*maxDevices=*/8, /*maxRoutesPerDevice=*/4});
  Nanos t = kT0;
  for (int i = 0; i < 1000; ++i) {
    table.fold("10.0.0.66", here("forged", "forged-" + std::to_string(i)), ++t);
    table.fold("10.0.1." + std::to_string(i % 100), here("Real", "a-real-phone", "wifi"), ++t);
    if (i % 4 == 0) table.fold("10.0.0.2", here("Real", "a-real-phone", "wired"), ++t);
  }
  const auto list = table.list();
  ASSERT_EQ(list.size(), 8u);
  EXPECT_EQ(list[1].address, "forged-993");  // the oldest forgeries were evicted
  const DeviceRecord& real = list[0];
  EXPECT_EQ(real.address, "a-real-phone");
  EXPECT_EQ(real.routes.size(), 4u);
  EXPECT_TRUE(real.routes.count("10.0.1.99"));
  EXPECT_EQ(real.bestAddress, "10.0.0.2");
}

}  // namespace
}  // namespace mirandel
