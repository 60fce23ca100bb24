#include <gtest/gtest.h>

#include <string>
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
  struct Case {
    const char* link;
    const char* sender;
    LinkKind kind;
  };
  const std::vector<Case> cases = {
      {"wired", "10.0.0.2", LinkKind::Wired},    {"wifi", "169.254.9.9", LinkKind::Wifi},
      {"Wired", "169.254.9.9", LinkKind::Other}, {"usb", "10.0.0.2", LinkKind::Other},
      {"", "169.254.9.9", LinkKind::Wired},      {"", "10.169.254.1", LinkKind::Other},
      {"", "192.168.1.4", LinkKind::Other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.link) + " " + c.sender);
    EXPECT_EQ(classifyRoute(c.link, c.sender), c.kind);
  }
}

// Guards that one phone heard over two routes is one record whose best
// route is the wired one while it is fresh, Wi-Fi after 12 s of wired silence,
// and wired again as soon as it is heard.
TEST(DeviceTable, PrefersAFreshWiredRouteFallsBackAfterTwelveSecondsAndWinsBack) {
  DeviceTable table;
  table.fold("169.254.1.2", here("Phone", "id-1", "", false), kT0);
  table.fold("10.77.0.2", here("Phone", "id-1", "wifi"), kT0 + kSecond);
  DeviceRecord r = only(table.list());
  EXPECT_EQ(r.routes.size(), 2u);
  EXPECT_EQ(r.routes.at("169.254.1.2").kind, LinkKind::Wired);
  EXPECT_EQ(r.routes.at("10.77.0.2").kind, LinkKind::Wifi);
  EXPECT_EQ(r.bestAddress, "169.254.1.2");

  // Exactly 12 s of silence is not yet "more than 12 s".
  table.fold("10.77.0.2", here("Phone", "id-1", "wifi"), kT0 + kRouteFreshness);
  EXPECT_EQ(only(table.list()).bestAddress, "169.254.1.2");

  table.fold("10.77.0.2", here("Phone", "id-1", "wifi"), kT0 + kRouteFreshness + 1);
  EXPECT_EQ(only(table.list()).bestAddress, "10.77.0.2");

  table.fold("169.254.1.2", here("Phone", "id-1", "", false), kT0 + 20 * kSecond);
  r = only(table.list());
  EXPECT_EQ(r.bestAddress, "169.254.1.2");
  EXPECT_EQ(r.firstSeen, kT0);
  EXPECT_EQ(r.lastSeen, kT0 + 20 * kSecond);
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

// Guards the filing of sparse and odd replies.
TEST(DeviceTable, FilesSparseRepliesUnderTheSender) {
  DeviceTable table;
  table.fold("192.168.1.4", {ControlArg::ofText("Only a name")}, kT0);
  table.fold("192.168.1.5", {}, kT0);  // no arguments: nothing to file
  table.fold("192.168.1.6", {ControlArg::ofInt(3), ControlArg::ofText("x"), ControlArg::ofInt(1)},
             kT0);
  const auto list = table.list();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].address, "192.168.1.4");
  EXPECT_EQ(list[0].name, "Only a name");
  EXPECT_EQ(list[0].extra, "");
  EXPECT_EQ(list[0].routes.at("192.168.1.4").kind, LinkKind::Other);
  EXPECT_EQ(list[1].address, "192.168.1.6");
  EXPECT_EQ(list[1].name, "");  // a non-text name reads as empty
}

// Guards against unbounded growth from forged replies, each claiming a new
// identity: the table stays capped and the phone that keeps answering stays.
TEST(DeviceTable, AFloodOfForgedIdentitiesIsCappedAndEvictsTheLeastRecentlySeen) {
  DeviceTable table({/*maxDevices=*/8, /*maxRoutesPerDevice=*/4});
  Nanos t = kT0;
  for (int i = 0; i < 1000; ++i) {
    table.fold("10.0.0.66", here("forged", "forged-" + std::to_string(i)), ++t);
    if (i % 4 == 0) table.fold("169.254.1.2", here("Real", "real-phone"), ++t);
  }
  const auto list = table.list();
  EXPECT_EQ(list.size(), 8u);
  bool realKept = false;
  for (const DeviceRecord& r : list) realKept = realKept || r.address == "real-phone";
  EXPECT_TRUE(realKept);
  EXPECT_EQ(list.back().address, "real-phone");   // sorted: "forged-..." < "real-phone"
  EXPECT_EQ(list.front().address, "forged-993");  // the oldest survivors were evicted
}

// Guards against unbounded routes from one identity replayed from many senders.
TEST(DeviceTable, AFloodOfSendersForOneIdentityCapsItsRoutes) {
  DeviceTable table({8, 4});
  Nanos t = kT0;
  for (int i = 0; i < 100; ++i) {
    table.fold("10.0.1." + std::to_string(i), here("P", "id", "wifi"), ++t);
    if (i % 3 == 0) table.fold("169.254.1.2", here("P", "id"), ++t);
  }
  const DeviceRecord r = only(table.list());
  EXPECT_EQ(r.routes.size(), 4u);
  EXPECT_TRUE(r.routes.count("169.254.1.2"));
  EXPECT_TRUE(r.routes.count("10.0.1.99"));
  EXPECT_EQ(r.bestAddress, "169.254.1.2");
}

}  // namespace
}  // namespace mirandel
