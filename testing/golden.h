// Long fixed texts (help, result tables, console layouts) checked against files in the source tree.
#ifndef TESTING_GOLDEN_H_
#define TESTING_GOLDEN_H_

#include <gtest/gtest.h>

#include <string>

namespace tarvik_test {

// Success when `actual` equals the file at `path` byte for byte; otherwise a failure that names the
// first differing byte and shows the text around it with control characters escaped. With
// TARVIK_UPDATE_GOLDEN=1 in the environment the file is rewritten with `actual` instead: review
// the difference before committing it.
::testing::AssertionResult MatchesGolden(const std::string& path, const std::string& actual);

// Control characters as escapes (\r, \n, \b, \xNN), for messages about console text.
std::string Escaped(const std::string& text);

}  // namespace tarvik_test

#endif  // TESTING_GOLDEN_H_
