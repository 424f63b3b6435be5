// The maker's addresses, in one place. Until the project registers a domain of
// its own they live under the reserved .example top-level domain.
#pragma once

#include <string_view>

namespace quorvane {

inline constexpr std::string_view kWebsiteHost = "www.quorvane.example";
inline constexpr std::string_view kWebsiteAddress = "https://www.quorvane.example";
inline constexpr std::string_view kSupportAddress = "support@quorvane.example";

}  // namespace quorvane
