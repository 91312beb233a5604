// The keyed name hash: names computed to collide under the unkeyed hashes used before
// spread under the keyed one like any names do (counted in probes of a linear-probing
// table, not timed), and every index still answers them exactly.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "chan_selector.h"
#include "colliding_names.h"
#include "test_support.h"
#include "xrq5_keyed_hash.h"
#include "xrq5_name_index.h"
#include "xrq5_output.h"
#include "xrq5_position_index.h"

namespace {

using xrq5_test::capture;
using xrq5_test::colliding_names;
using xrq5_test::temp_dir;
using xrq5_test::unkeyed;

constexpr size_t count = 4096;

// Probes per insertion into a table of 2 * count slots by linear probing, each name
// starting at slot(hash): 1.5 on average for hashes that behave randomly, count / 2
// when all start at one slot.
double mean_probes(const std::vector<std::string>& names,
                   const std::function<size_t(const std::string&)>& slot) {
  const size_t size = 2 * count, mask = size - 1;
  std::vector<bool> used(size);
  size_t probes = 0;
  for (const std::string& n : names) {
    size_t i = slot(n) & mask;
    for (++probes; used[i]; i = (i + 1) & mask) ++probes;
    used[i] = true;
  }
  return static_cast<double>(probes) / static_cast<double>(names.size());
}

TEST(keyed_hash, names_that_collide_unkeyed_spread_keyed) {
  struct {
    const char* name;
    unkeyed old;
    std::function<uint64_t(const std::string&)> before, now;
    std::function<size_t(uint64_t)> slot;  // the bits an index starts its probe at
  } cases[] = {
      {"name index", unkeyed::name_hash,
       [](const std::string& n) { return xrq5_test::unkeyed_name_hash(n.data(), n.size()); },
       [](const std::string& n) { return xrq5_name_hash(n.data(), n.size()); },
       [](uint64_t h) { return static_cast<size_t>(h); }},
      {"written-name set", unkeyed::writer_key,
       [](const std::string& n) { return xrq5_test::unkeyed_writer_key(n.data(), n.size()); },
       [](const std::string& n) { return xrq5_output::name_set::key(n.data(), n.size()); },
       [](uint64_t k) { return static_cast<size_t>(k >> 16); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<std::string> names = colliding_names(count, c.old);
    ASSERT_EQ(std::set<std::string>(names.begin(), names.end()).size(), count);
    std::set<uint64_t> before, now, high;
    for (const std::string& n : names) {
      ASSERT_EQ(n.size(), names[0].size());
      for (const char ch : n) ASSERT_TRUE(xrq5_test::name_byte(static_cast<unsigned char>(ch)));
      before.insert(c.before(n));
      now.insert(c.now(n));
      high.insert(c.now(n) >> 32);
    }
    EXPECT_EQ(before.size(), 1u) << "the names do collide unkeyed";
    EXPECT_EQ(now.size(), count);
    EXPECT_GE(high.size(), count - 4) << "the selector's slot tags";
    EXPECT_GT(mean_probes(names, [&](const std::string& n) { return c.slot(c.before(n)); }),
              count / 4.0);
    EXPECT_LT(mean_probes(names, [&](const std::string& n) { return c.slot(c.now(n)); }), 3.0);
  }
}

// Each process draws its own secret: two draws differ, and a hash is the same for the
// same name within the process.
TEST(keyed_hash, secrets_are_drawn_not_fixed) {
  const xrq5_keyed::secret a, b;
  EXPECT_NE(memcmp(a.bytes, b.bytes, sizeof a.bytes), 0);
  const std::string name = "LINAC/BPM/ARC.1/X";
  EXPECT_EQ(xrq5_keyed_hash(name.data(), name.size()), xrq5_name_hash(name.data(), name.size()));
  EXPECT_EQ(xrq5_keyed_hasher()(name),
            static_cast<size_t>(xrq5_keyed_hash(name.data(), name.size())));
}

TEST(keyed_hash, indexes_answer_colliding_names_exactly) {
  const std::vector<std::string> names = colliding_names(count, unkeyed::name_hash);
  xrq5_name_index<size_t> index;
  xrq5_position_index positions;
  xrq5_output::name_set written(0);
  auto name_at = [&names](uint32_t p) { return std::make_pair(names[p].data(), names[p].size()); };
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& n = names[i];
    ASSERT_TRUE(index.insert(n.data(), n.size(), i).second);
    ASSERT_TRUE(positions.insert(n.data(), n.size(), static_cast<uint32_t>(i), name_at).second);
    ASSERT_TRUE(written.insert(xrq5_output::name_set::key(n.data(), n.size()), n.data()));
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const std::string& n = names[i];
    const size_t* v = index.find(n.data(), n.size());
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(*v, i);
    EXPECT_EQ(positions.insert(n.data(), n.size(), 0, name_at), std::make_pair(uint32_t(i), false));
    EXPECT_FALSE(written.insert(xrq5_output::name_set::key(n.data(), n.size()), n.data()));
    std::string other = n;
    other[other.size() - 1] ^= 1;  // still printable: one name byte changed in its lowest bit
    EXPECT_EQ(index.find(other.data(), other.size()) != nullptr,
              std::find(names.begin(), names.end(), other) != names.end());
  }
}

// The selector over a description file of colliding names (read through the
// merging reader) types each one as its own channel.
TEST(keyed_hash, selector_over_colliding_names) {
  const std::vector<std::string> names = colliding_names(1024, unkeyed::name_hash);
  std::string doc = "<CHANDESCRIPTIONS>";
  for (size_t i = 0; i < names.size(); ++i)
    doc += "<CHANNEL><PROP>P" + names[i] + "</PROP><NAME>" + names[i] + "</NAME><EVTYPE>" +
           std::to_string(1 + i % 20) + "</EVTYPE></CHANNEL>";
  doc += "</CHANDESCRIPTIONS>";
  temp_dir d;
  std::string path = d.write("colliding.xml", doc);
  chan_selector s;
  std::vector<char*> files{&path[0]};
  int total = 0;
  capture cap;
  ASSERT_FALSE(s.set_descriptions(files, &total));
  cap.stop();
  ASSERT_EQ(s.size(), static_cast<int>(names.size()));
  for (size_t i = 0; i < names.size(); ++i) {
    std::string n = names[i];
    EXPECT_EQ(s.get_event_type(&n[0]), 1 << (1 + i % 20)) << i;
  }
}

}  // namespace
