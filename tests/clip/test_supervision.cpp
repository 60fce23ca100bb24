// The supervision step: what a flood of messages costs it.
#include "tests/clip/SessionFixture.h"

namespace mirandel::test {
namespace {

// Anyone can send "/mirandel/here". Each one rebuilt the "Device" menu from a
// fresh copy of the table: a thousand of them with a full table of long names
// held one host call for over a second. A burst must cost one look at the
// table per step, and a table that did not change no new menu at all.
TEST_F(SessionTest, ABurstOfAnnouncementsRebuildsTheDeviceMenuAtMostOncePerStep) {
  clip_->SetTextParameter(param::kPhoneIp, "10.0.0.99");  // typed: the step polls no devices
  for (int i = 0; i < 64; ++i)
    link_.devices.push_back(
        device(std::string(200, static_cast<char>('a' + i % 26)) + std::to_string(i),
               "10.0.1." + std::to_string(i), clock_.now()));
  takeEvents();
  auto burst = [&] {
    for (int i = 0; i < 1000; ++i) fromPhone("/mirandel/here", {S("forged")}, "10.9.9.9");
  };
  const int snapshots = link_.snapshots;
  burst();
  step();
  EXPECT_EQ(link_.snapshots - snapshots, 1);
  EXPECT_EQ(takeEvents()[param::kDevice], std::uint64_t{FF_EVENT_FLAG_ELEMENTS});
  EXPECT_EQ(elementNames(param::kDevice).size(), 64u);

  burst();
  step();
  EXPECT_EQ(link_.snapshots - snapshots, 2);
  EXPECT_EQ(takeEvents().count(param::kDevice), 0u);

  link_.devices[5].name = "Renamed";
  burst();
  step();
  EXPECT_EQ(elementNames(param::kDevice).at(5), "Renamed");
}

}  // namespace
}  // namespace mirandel::test
