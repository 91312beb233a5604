// "Did you mean": the known word closest to a misspelt one.
#ifndef XRQ5_TOOL_SUGGEST_H
#define XRQ5_TOOL_SUGGEST_H

#include <string>
#include <vector>

// The candidate nearest to `word` by edits (insert, delete, change or swap two
// neighbouring characters), when it is near enough to be a likely misspelling (at most
// one edit in three characters, at least one); empty otherwise.
std::string closest_word(const std::string& word, const std::vector<std::string>& candidates);

#endif  // XRQ5_TOOL_SUGGEST_H
