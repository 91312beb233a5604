#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "xrq5_text.h"

namespace {

using xrq5_internal::number_form;
using xrq5_internal::read_number;

// ---- text into a fixed field ---------------------------------------------------------

// Out of line, so that the compiler does not reason about each literal's length.
__attribute__((noinline)) void copy_field(char* field, size_t size, const char* text, size_t max) {
  xrq5_internal::copy_field(field, size, text, max);
}

template <size_t N>
void copy_field(char (&field)[N], const char* text) {
  copy_field(field, N, text, N - 1);
}

// The field's bytes as written, all of them.
template <size_t N>
std::string bytes(const char (&f)[N]) {
  return std::string(f, N);
}

template <size_t N>
std::string expect_field(const std::string& text) {
  std::string want(N, '\0');
  want.replace(0, text.size(), text);
  return want;
}

TEST(copy_field, cuts_to_the_field_never_inside_a_character) {
  const struct {
    const char* text;
    const char* kept;
  } cases[] = {
      {"", ""},
      {"abc", "abc"},
      {"abcdefg", "abcdefg"},                        // exactly the room there is
      {"abcdefgh", "abcdefg"},                       // one too long
      {"abcdef\xc3\xa9", "abcdef"},                  // a two-byte character across the cut
      {"abcde\xc3\xa9z", "abcde\xc3\xa9"},           // it ends at the cut: kept
      {"abcde\xe2\x82\xac", "abcde"},                // three bytes, one past the cut
      {"ab\xf0\x9f\x98\x80xyz", "ab\xf0\x9f\x98\x80" "x"},  // four bytes inside the room
      {"abcde\xf0\x9f\x98\x80", "abcde"},            // four bytes across the cut
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    char field[8] = {};
    copy_field(field, c.text);
    EXPECT_EQ(bytes(field), expect_field<8>(c.kept));
  }
}

TEST(copy_field, a_shorter_text_clears_what_a_longer_one_left) {
  char field[16] = {};
  copy_field(field, "a long name");
  copy_field(field, "short");
  EXPECT_EQ(bytes(field), expect_field<16>("short"));
  copy_field(field, "sh");
  EXPECT_EQ(bytes(field), expect_field<16>("sh"));
  copy_field(field, "longer again!");
  EXPECT_EQ(bytes(field), expect_field<16>("longer again!"));
  copy_field(field, nullptr);  // nothing to put: the field stays
  EXPECT_EQ(bytes(field), expect_field<16>("longer again!"));
}

TEST(copy_field, a_smaller_limit_than_the_field_is_kept) {
  char field[8] = {};
  copy_field(field, sizeof field, "abcdefghij", 4);
  EXPECT_EQ(bytes(field), expect_field<8>("abcd"));
  copy_field(field, sizeof field, "abcdefghij", 100);  // never past the terminator
  EXPECT_EQ(bytes(field), expect_field<8>("abcdefg"));
}

// ---- numbers -------------------------------------------------------------------------

// What the readers did with the C library before: strtol base 10, saturated to int.
bool strtol_int(const char* text, int* out) {
  char* end = nullptr;
  errno = 0;
  const long v = strtol(text, &end, 10);
  if (end == text) return false;
  *out = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
  return true;
}

// strtoll, and (INT_MAX, UINT_MAX] as the 32-bit pattern.
bool strtoll_events(const char* text, int* out) {
  char* end = nullptr;
  const long long v = strtoll(text, &end, 10);
  if (end == text) return false;
  if (v > INT_MAX && v <= static_cast<long long>(UINT_MAX))
    *out = static_cast<int>(static_cast<unsigned int>(v));
  else
    *out = v > INT_MAX ? INT_MAX : v < INT_MIN ? INT_MIN : static_cast<int>(v);
  return true;
}

const char* const number_texts[] = {
    "0", "42", "-42", "+42", "  7", "\t\n\v\f\r 8", "007", "12abc", "3.9", "1e5", "0x10",
    "abc", "", "-", "+", " -", "- 5", "--5", "+-5", "2147483647", "2147483648", "-2147483648",
    "-2147483649", "4294967295", "4294967296", "-4294967295", "9223372036854775807",
    "9223372036854775808", "99999999999999999999999999", "-99999999999999999999999999",
    "000000000000000000000000000001", "\xc2\xa0" "5",
};

TEST(read_number, int_saturated_reads_as_strtol) {
  for (const char* text : number_texts) {
    SCOPED_TRACE(text);
    int want = 12345, got = 12345;
    const bool found = strtol_int(text, &want);
    EXPECT_EQ(read_number(text, number_form::int_saturated, &got), found);
    EXPECT_EQ(got, want);  // untouched (12345) when there is no number
  }
}

TEST(read_number, int_or_u32_pattern_keeps_what_percent_u_wrote) {
  for (const char* text : number_texts) {
    SCOPED_TRACE(text);
    int want = 12345, got = 12345;
    const bool found = strtoll_events(text, &want);
    EXPECT_EQ(read_number(text, number_form::int_or_u32_pattern, &got), found);
    EXPECT_EQ(got, want);
  }
  int v = 0;
  ASSERT_TRUE(read_number("4294967295", number_form::int_or_u32_pattern, &v));
  EXPECT_EQ(v, -1);
  ASSERT_TRUE(read_number("2147483648", number_form::int_or_u32_pattern, &v));
  EXPECT_EQ(v, INT_MIN);
}

TEST(read_number, unsigned_or_hex_reads_hex_only_with_a_lowercase_x) {
  const struct {
    const char* text;
    bool found;
    unsigned int value;
  } cases[] = {{"17", true, 17},           {" 17 ", true, 17},      {"0x1F", true, 31},
               {"0x1f", true, 31},         {" 0xFFFFFFFF", true, 0xFFFFFFFFu},
               {"0X1F", true, 0},          {"12x", false, 777},     {"x", false, 777},
               {"abc", false, 777},        {"", false, 777},        {"4294967295", true, 4294967295u}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    unsigned int v = 777;
    EXPECT_EQ(read_number(c.text, number_form::unsigned_or_hex, &v), c.found);
    EXPECT_EQ(v, c.value);
  }
}

TEST(read_number, null_text_is_no_number) {
  int v = 5;
  EXPECT_FALSE(read_number(nullptr, number_form::int_saturated, &v));
  EXPECT_EQ(v, 5);
  EXPECT_EQ(xrq5_internal::int_of(nullptr), 0);
  EXPECT_EQ(xrq5_internal::int_of("abc"), 0);
  EXPECT_EQ(xrq5_internal::int_of(" -12 "), -12);
}

}  // namespace
