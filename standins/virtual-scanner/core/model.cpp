// An installed copy's description: which scanner it is (its name, TWAIN 2 or 1.x, flatbed or
// feeder).
#include <cstdlib>
#include <set>
#include <sstream>

#include "standins/virtual-scanner/core/scanner.h"

namespace vs {
namespace {

std::string Trim(const std::string& s) {
  const char* blanks = " \t\r";
  const size_t from = s.find_first_not_of(blanks);
  if (from == std::string::npos) return "";
  return s.substr(from, s.find_last_not_of(blanks) - from + 1);
}

bool Flag(const std::string& v, bool* out) {
  if (v != "0" && v != "1") return false;
  *out = v == "1";
  return true;
}

}  // namespace

bool ParseModel(const std::string& text, Model* model, std::string* error) {
  Model m;
  std::set<std::string> seen;
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  auto bad = [&](const std::string& why) {
    *error = number ? "line " + std::to_string(number) + ": " + why : why;
    return false;
  };
  while (std::getline(lines, line)) {
    ++number;
    line = Trim(line);
    if (line.empty() || line[0] == ';' || line[0] == '#') continue;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return bad("no '='");
    const std::string key = Trim(line.substr(0, eq)), value = Trim(line.substr(eq + 1));
    if (!seen.insert(key).second) return bad(key + " given twice");
    if (key == "ProductName") {
      // TW_STR32: 32 characters and the terminator (or the length byte).
      if (value.empty() || value.size() > 32) return bad("ProductName must have 1 to 32 characters");
      m.productName = value;
    } else if (key == "Twain2") {
      if (!Flag(value, &m.twain2)) return bad("Twain2 is 0 or 1");
    } else if (key == "Feeder") {
      if (!Flag(value, &m.feeder)) return bad("Feeder is 0 or 1");
    } else if (key == "Sheets") {
      char* end = nullptr;
      const long n = std::strtol(value.c_str(), &end, 10);
      if (value.empty() || *end || n < 1 || n > 32767) return bad("Sheets is 1 to 32767");
      m.sheets = int(n);
    } else {
      return bad("unknown key " + key);
    }
  }
  number = 0;
  if (!seen.count("ProductName")) return bad("no ProductName: copies must have names of their own");
  if (seen.count("Sheets") && !m.feeder) return bad("Sheets without Feeder=1");
  *model = m;
  return true;
}

}  // namespace vs
