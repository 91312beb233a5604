// Names that collide under the unkeyed name hashes the indexes used before their hash was
// keyed, as an attacker who knows the program would compute them. Shared by the tests
// and the benchmarks.
//
// Both old hashes walk a name eight bytes at a time through h = F(h ^ word), F a
// bijection, from a start value that depends only on the length; names whose length is
// a multiple of 8 end in the same final mix of h. Two words make a stage: for the first
// word take several values whose F(h ^ w1) agree in each byte's top bits, then a target
// T such that every w2 = F(h ^ w1) ^ T is printable too; every choice of the stage
// leaves h = F(T). Stages chain, so m choices in each of s stages give m^s names of 16*s
// bytes with one hash value.
#ifndef XRQ5_TEST_COLLIDING_NAMES_H
#define XRQ5_TEST_COLLIDING_NAMES_H

#include <cstdint>
#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace xrq5_test {

inline uint64_t unkeyed_mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xff51afd7ed558ccdULL;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ULL;
  return h ^ (h >> 33);
}

// The old hash of the selector, the description merge and their indexes.
inline uint64_t unkeyed_name_hash(const char* p, size_t len) {
  uint64_t h = 0x9E3779B97F4A7C15ULL ^ (static_cast<uint64_t>(len) * 0xD6E8FEB86659FD93ULL);
  for (; len >= 8; p += 8, len -= 8) {
    uint64_t k;
    memcpy(&k, p, 8);
    h = unkeyed_mix(h ^ k);
  }
  uint64_t tail = 0;
  if (len >= 4) {
    uint32_t lo, hi;
    memcpy(&lo, p, 4);
    memcpy(&hi, p + len - 4, 4);
    tail = lo | static_cast<uint64_t>(hi) << 32;
  } else if (len > 0) {
    const unsigned char* u = reinterpret_cast<const unsigned char*>(p);
    tail = u[0] | static_cast<uint64_t>(u[len / 2]) << 8 | static_cast<uint64_t>(u[len - 1]) << 16;
  }
  return unkeyed_mix(h ^ tail);
}

inline uint64_t unkeyed_writer_step(uint64_t x) {
  x *= 0xff51afd7ed558ccdull;
  return x ^ (x >> 29);
}

// The old key of the writers' written-name set.
inline uint64_t unkeyed_writer_key(const char* name, size_t len) {
  uint64_t h = 0x9E3779B97F4A7C15ull ^ len;
  size_t left = len;
  for (; left >= 8; name += 8, left -= 8) {
    uint64_t k;
    memcpy(&k, name, 8);
    h = unkeyed_writer_step(h ^ k);
  }
  uint64_t tail = 0;
  memcpy(&tail, name, left);
  return (unkeyed_mix(h ^ tail) & ~uint64_t{0xFFFF}) | (len & 0xFFFF);
}

enum class unkeyed { name_hash, writer_key };

// Bytes a name may hold in any document: printable, no blank, nothing XML escapes.
inline bool name_byte(unsigned b) {
  return b > 0x20 && b < 0x7f && b != '<' && b != '>' && b != '&' && b != '"' && b != '\'';
}

// `count` distinct names of one length, all with one value under the old function `f`.
inline std::vector<std::string> colliding_names(size_t count, unkeyed f) {
  constexpr size_t ways = 8;  // choices per stage
  size_t stages = 1;
  for (size_t n = ways; n < count; n *= ways) ++stages;
  const size_t len = 16 * stages;
  uint64_t h = f == unkeyed::name_hash
                   ? 0x9E3779B97F4A7C15ULL ^ (static_cast<uint64_t>(len) * 0xD6E8FEB86659FD93ULL)
                   : 0x9E3779B97F4A7C15ull ^ len;
  auto step = [f](uint64_t x) {
    return f == unkeyed::name_hash ? unkeyed_mix(x) : unkeyed_writer_step(x);
  };
  std::mt19937_64 random(20261209);
  auto printable_word = [&random]() {
    uint64_t w = 0;
    for (int b = 0; b < 8; ++b) {
      unsigned c;
      do c = static_cast<unsigned>(random() & 0x7f);
      while (!name_byte(c));
      w |= static_cast<uint64_t>(c) << (8 * b);
    }
    return w;
  };
  // choice[s][i]: the 16 bytes of choice i in stage s.
  std::vector<std::vector<std::string>> choice(stages);
  for (size_t s = 0; s < stages; ++s) {
    for (int attempt = 0; choice[s].empty(); ++attempt) {
      if (attempt > 1000) throw std::runtime_error("colliding_names: no stage found");
      // First words grouped by the two top bits of their state's bytes, until a group
      // is full: a target byte with the same top bit and the other second bit then
      // turns each into a byte from 0x40 to 0x7f, all but 0x7f fit for a name.
      std::vector<std::vector<std::pair<uint64_t, uint64_t>>> group(65536);
      std::vector<std::pair<uint64_t, uint64_t>>* full = nullptr;
      while (full == nullptr) {
        const uint64_t w1 = printable_word();
        const uint64_t x = step(h ^ w1);
        unsigned top = 0;
        for (int b = 0; b < 8; ++b) top |= static_cast<unsigned>((x >> (8 * b + 6)) & 3) << (2 * b);
        auto& g = group[top];
        g.push_back({w1, x});
        if (g.size() == ways) full = &g;
      }
      // The target, byte by byte: each byte must leave every second word printable.
      uint64_t target = 0;
      bool found = true;
      for (int b = 0; b < 8 && found; ++b) {
        found = false;
        for (unsigned t = 0; t < 256 && !found; ++t) {
          bool all = true;
          for (const auto& p : *full) all = all && name_byte(((p.second >> (8 * b)) & 0xff) ^ t);
          if (all) {
            target |= static_cast<uint64_t>(t) << (8 * b);
            found = true;
          }
        }
      }
      if (!found) continue;
      for (const auto& p : *full) {
        const uint64_t w2 = p.second ^ target;
        char bytes[16];
        memcpy(bytes, &p.first, 8);
        memcpy(bytes + 8, &w2, 8);
        choice[s].emplace_back(bytes, 16);
      }
      h = step(target);
    }
  }
  std::vector<std::string> names;
  names.reserve(count);
  for (size_t n = 0; n < count; ++n) {
    std::string name;
    name.reserve(len);
    size_t digits = n;
    for (size_t s = 0; s < stages; ++s, digits /= ways) name += choice[s][digits % ways];
    names.push_back(name);
  }
  return names;
}

// `count` distinct random names of `len` bytes, of the same bytes as colliding_names.
inline std::vector<std::string> random_names(size_t count, size_t len) {
  std::mt19937_64 random(7);
  std::vector<std::string> names(count, std::string(len, ' '));
  for (size_t n = 0; n < count; ++n) {
    for (char& c : names[n]) {
      unsigned b;
      do b = static_cast<unsigned>(random() & 0x7f);
      while (!name_byte(b));
      c = static_cast<char>(b);
    }
    // Distinct for certain: the number in the first bytes.
    const std::string tag = std::to_string(n) + "_";
    names[n].replace(0, tag.size() < len ? tag.size() : len, tag, 0, len);
  }
  return names;
}

}  // namespace xrq5_test

#endif  // XRQ5_TEST_COLLIDING_NAMES_H
