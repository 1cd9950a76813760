// Where rulehost finds its plug-in and the sample data: beside its own
// executable as installed, in the build and source trees otherwise.
#pragma once

#include <string>

namespace host {

// The plug-in: <exe dir>/<bin-to-plug-in path of the install> when that file
// exists (an installed tree, wherever it was copied), otherwise the plug-in
// of the build tree the executable came from. When neither exists, the
// installed location, so the load error names where it was looked for.
const std::string& DefaultPluginPath();
// The sample resource directory (ends in '/'), chosen the same way between
// <exe dir>/<bin-to-share path>/gamerules/resources/ and the source tree's
// resources/.
const std::string& DefaultResourceDir();

}  // namespace host
