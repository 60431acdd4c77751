// `tessivo-cli deliver ROUTE PARAMS.json`: one delivery into Resolve from a
// terminal, through the same engine and messages as the editor.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tessivo {

// The editor message of a route name ("exact", "lottie", "fusion", "smart");
// empty for an unknown name.
std::string_view deliveryMessageType(std::string_view route);

// 0 when the delivery answered with "success" true; 1 when it failed, was not
// answered, or its route is not built; 2 for a usage or request-file error.
int runDeliverCommand(const std::vector<std::string>& arguments);

}  // namespace tessivo
