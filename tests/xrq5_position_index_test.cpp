#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "xrq5_position_index.h"

namespace {

// ---- the position index --------------------------------------------------------------

TEST(position_index, files_the_first_position_of_each_name) {
  std::vector<std::string> list;
  xrq5_position_index index;
  auto name_at = [&list](uint32_t p) { return std::make_pair(list[p].data(), list[p].size()); };
  auto add = [&](const std::string& name) {
    const auto r = index.insert(name.data(), name.size(), static_cast<uint32_t>(list.size()), name_at);
    if (r.second) list.push_back(name);
    return r;
  };
  // Enough names to grow the table several times; every name once, then again.
  for (int i = 0; i < 5000; ++i) {
    const auto r = add("N" + std::to_string(i));
    EXPECT_TRUE(r.second);
    EXPECT_EQ(r.first, static_cast<uint32_t>(i));
  }
  for (int i = 4999; i >= 0; --i) {
    const auto r = add("N" + std::to_string(i));
    EXPECT_FALSE(r.second);
    EXPECT_EQ(r.first, static_cast<uint32_t>(i));
  }
  // A prefix, an extension and the empty name are names of their own.
  EXPECT_TRUE(add("N1").second == false);
  EXPECT_TRUE(add("N").second);
  EXPECT_TRUE(add("N10000").second);
  EXPECT_TRUE(add("").second);
  EXPECT_FALSE(add("").second);
  EXPECT_EQ(index.size(), list.size());
  EXPECT_EQ(list.size(), 5003u);
}

}  // namespace
