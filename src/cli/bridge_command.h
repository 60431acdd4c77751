// `tessivo-cli bridge`: message envelopes in on standard input, one JSON object
// a line; every web callback out on standard output, one JSON line each.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

namespace tessivo {

int runBridgeCommand(const std::vector<std::string>& arguments, std::istream& in, std::ostream& out);

}  // namespace tessivo
