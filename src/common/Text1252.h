#pragma once

#include <string>

namespace orvana {

// The clip comment is 8-bit Windows-1252 text on flash. These convert at the boundary to the
// UTF-8 the rest of the program uses; characters 1252 cannot hold become '?', and invalid UTF-8
// sequences are replaced whole, so a character is never cut in half.
std::string utf8ToCp1252(const std::string& utf8);
std::string cp1252ToUtf8(const std::string& cp1252);

}  // namespace orvana
