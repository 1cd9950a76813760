// The studio's one web page: HTML, style and script in one string, so the
// page needs nothing but the binary that serves it.
#pragma once

namespace tools {

const char* StudioPageHtml();

}  // namespace tools
