// Internal to the Linux stand-ins: file handles are descriptors, and a table of open files
// enforces the Windows share modes between the opens of one process.
#pragma once

#include <sys/stat.h>

#include <string_view>

#include "platform/linux/types.h"

namespace winplatform {

int HandleToDescriptor(HANDLE handle);
HANDLE DescriptorToHandle(int fd);

// Records an open of fd; false when it conflicts with an open of the same file.
bool RegisterOpenFile(int fd, DWORD access, DWORD share);
void UnregisterOpenFile(int fd);

// Characters Windows never accepts in a file name: * ? < > | "
bool HasInvalidNameCharacters(std::string_view path);

// The attribute word of a stat result.
DWORD AttributesOf(const struct stat& st);

}  // namespace winplatform
