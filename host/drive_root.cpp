// The command-line host's drive root (Linux): the folder that holds the drive letters, chosen
// by the host and given to the platform stand-ins, with its c folder made.
#include "host/drive_root.h"

#include <filesystem>
#include <system_error>

#ifndef _WIN32
#include "platform/linux/drives.h"
#endif

namespace dunmarrow::host {

#ifdef _WIN32

// Windows has drive letters of its own.
std::string PrepareDriveRoot(const std::optional<std::string>& requested) {
  return requested ? "--drive-root has no effect on Windows; the real drives are used" : "";
}

#else

std::string PrepareDriveRoot(const std::optional<std::string>& requested) {
  std::filesystem::path root = requested ? *requested : winplatform::DefaultDriveRoot();
  std::error_code error;
  std::filesystem::path absolute = std::filesystem::absolute(root, error);
  if (!error) root = absolute;
  winplatform::SetDriveRoot(root.string());
  std::filesystem::create_directories(root / "c", error);
  if (error)
    return "cannot create the folder of drive C: " + (root / "c").string() + ": " + error.message();
  return "";
}

#endif

}  // namespace dunmarrow::host
