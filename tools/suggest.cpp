#include "suggest.h"

#include <algorithm>

namespace {

// Edits from a to b, a swap of neighbours counting one (optimal string alignment).
size_t distance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1,
                          d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

}  // namespace

std::string closest_word(const std::string& word, const std::vector<std::string>& candidates) {
  // Long words from the command line are no misspelling of a short name.
  if (word.empty() || word.size() > 64) return std::string();
  const size_t allowed = std::max<size_t>(1, word.size() / 3);
  std::string best;
  size_t best_distance = allowed + 1;
  for (const std::string& c : candidates) {
    const size_t n = distance(word, c);
    if (n < best_distance && n < std::max(word.size(), c.size())) {
      best = c;
      best_distance = n;
    }
  }
  return best;
}
