#pragma once

// The web addresses the dashboard's link rows open.
namespace tarpelix::DashboardLinks {

// The product's home page, sent along with a testimonial.
inline constexpr const char* productHome = "https://tarpelix.app/";
// Help and issue reports.
inline constexpr const char* support = "https://tarpelix.app/support/";
// X's web intent that opens an editable draft of a post.
inline constexpr const char* composePost = "https://x.com/intent/tweet";

} // namespace tarpelix::DashboardLinks
