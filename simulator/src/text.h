// Small text helpers shared by the simulator's sources.
#ifndef TARVIK_SIM_SRC_TEXT_H_
#define TARVIK_SIM_SRC_TEXT_H_

#include <string>

namespace tarvik_sim {
namespace text {

std::string Trim(const std::string& text);
std::string Upper(std::string text);
std::string Lower(std::string text);
// \r, \n, \xNN and \<any> (that character) escapes, as used in settings and control lines.
std::string Unescape(const std::string& text);
// Bytes as readable text for the log: \r, \n, \\ and \xNN for the rest of the unprintable ones.
std::string Printable(const std::string& bytes);

}  // namespace text
}  // namespace tarvik_sim

#endif  // TARVIK_SIM_SRC_TEXT_H_
