// Where drive letters live (Linux): the host chooses the drive root and makes its C: folder,
// so that paths such as c:\Wexcombe.log can be written.
#pragma once

#include <optional>
#include <string>

namespace dunmarrow::host {

// Sets the drive root (the default when none is given) and creates <root>/c. Returns a
// warning to show when the folder cannot be made, or an empty text.
std::string PrepareDriveRoot(const std::optional<std::string>& requested);

}  // namespace dunmarrow::host
