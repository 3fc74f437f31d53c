// Splitting a script line into words (the shell and `run`). Pure, for unit tests.
#pragma once

#include <string>
#include <vector>

namespace kmt::cli {

// Splits a line into words as a shell would, simply: blanks separate, '...' and "..."
// quote, a backslash escapes the next character, '#' at the start of a word begins a
// comment. Sets *error on an unterminated quote.
inline std::vector<std::string> split_words(const std::string &line, std::string *error) {
  std::vector<std::string> words;
  std::string word;
  bool in_word = false;
  char quote = 0;
  for (std::size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (quote) {
      if (c == quote) {
        quote = 0;
      } else if (c == '\\' && quote == '"' && i + 1 < line.size()) {
        word += line[++i];
      } else {
        word += c;
      }
    } else if (c == '\'' || c == '"') {
      quote = c;
      in_word = true;
    } else if (c == '\\' && i + 1 < line.size()) {
      word += line[++i];
      in_word = true;
    } else if (c == ' ' || c == '\t' || c == '\r') {
      if (in_word) words.push_back(word);
      word.clear();
      in_word = false;
    } else if (c == '#' && !in_word) {
      break;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (quote) *error = "unterminated quote";
  if (in_word) words.push_back(word);
  return words;
}

}  // namespace kmt::cli
