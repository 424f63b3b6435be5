#include "base/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace quorvane {
namespace {

std::vector<int> closed;

struct CountingTraits {
  using Handle = int;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle handle) { return handle != 0; }
  static void Close(Handle handle) { closed.push_back(handle); }
};

// Closing needs a second value, as ReleaseDC needs the window.
struct OwnerTraits {
  using Handle = int;
  int owner = 0;
  static Handle Invalid() { return 0; }
  static bool IsValid(Handle handle) { return handle != 0; }
  void Close(Handle handle) const { closed.push_back(owner * 100 + handle); }
};

class UniqueHandleTest : public ::testing::Test {
 protected:
  void SetUp() override { closed.clear(); }
};

TEST_F(UniqueHandleTest, ClosesExactlyOnceWhateverMovesItMakes) {
  {
    UniqueHandle<CountingTraits> a(7);
    UniqueHandle<CountingTraits> b(std::move(a));
    EXPECT_FALSE(a.Valid());
    UniqueHandle<CountingTraits> c;
    c = std::move(b);
    auto& same = c;
    c = std::move(same);  // self-move keeps the handle
    EXPECT_EQ(c.Get(), 7);
    EXPECT_TRUE(closed.empty());
  }
  EXPECT_EQ(closed, std::vector<int>{7});
}

TEST_F(UniqueHandleTest, ResetClosesTheOldAndReleaseClosesNothing) {
  UniqueHandle<CountingTraits> handle(1);
  handle.Reset(2);
  EXPECT_EQ(closed, std::vector<int>{1});
  EXPECT_EQ(handle.Release(), 2);
  handle.Reset();
  EXPECT_EQ(closed, std::vector<int>{1});
  EXPECT_FALSE(handle);
}

TEST_F(UniqueHandleTest, AHandleClosesWithTheTraitsItCameWith) {
  UniqueHandle<OwnerTraits> first(1, {5});
  UniqueHandle<OwnerTraits> second(2, {6});
  first = std::move(second);  // 1 goes back to owner 5; 2 keeps owner 6
  EXPECT_EQ(closed, std::vector<int>{501});
  first.Reset();
  EXPECT_EQ(closed, (std::vector<int>{501, 602}));
}

}  // namespace
}  // namespace quorvane
