// File functions of kernel32. Drive-letter paths are mapped below the drive root (drives.h).
#pragma once

#include "platform/linux/types.h"

#define INVALID_FILE_ATTRIBUTES 0xFFFFFFFFu
#define FILE_ATTRIBUTE_READONLY 0x00000001u
#define FILE_ATTRIBUTE_HIDDEN 0x00000002u
#define FILE_ATTRIBUTE_DIRECTORY 0x00000010u
#define FILE_ATTRIBUTE_ARCHIVE 0x00000020u
#define FILE_ATTRIBUTE_NORMAL 0x00000080u

#define GENERIC_READ 0x80000000u
#define GENERIC_WRITE 0x40000000u
#define DELETE 0x00010000u
#define FILE_SHARE_READ 0x00000001u
#define FILE_SHARE_WRITE 0x00000002u
#define FILE_SHARE_DELETE 0x00000004u

#define CREATE_NEW 1u
#define CREATE_ALWAYS 2u
#define OPEN_EXISTING 3u
#define OPEN_ALWAYS 4u
#define TRUNCATE_EXISTING 5u

#define FILE_BEGIN 0u
#define FILE_CURRENT 1u
#define FILE_END 2u
#define INVALID_SET_FILE_POINTER 0xFFFFFFFFu

struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  CHAR cFileName[MAX_PATH];
  CHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAA* LPWIN32_FIND_DATAA;

struct WIN32_FIND_DATAW {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD dwReserved0;
  DWORD dwReserved1;
  WCHAR cFileName[MAX_PATH];
  WCHAR cAlternateFileName[14];
};
typedef WIN32_FIND_DATAW* LPWIN32_FIND_DATAW;

struct BY_HANDLE_FILE_INFORMATION {
  DWORD dwFileAttributes;
  FILETIME ftCreationTime;
  FILETIME ftLastAccessTime;
  FILETIME ftLastWriteTime;
  DWORD dwVolumeSerialNumber;
  DWORD nFileSizeHigh;
  DWORD nFileSizeLow;
  DWORD nNumberOfLinks;
  DWORD nFileIndexHigh;
  DWORD nFileIndexLow;
};
typedef BY_HANDLE_FILE_INFORMATION* LPBY_HANDLE_FILE_INFORMATION;

struct SECURITY_ATTRIBUTES;
typedef SECURITY_ATTRIBUTES* LPSECURITY_ATTRIBUTES;
struct OVERLAPPED;
typedef OVERLAPPED* LPOVERLAPPED;

extern "C" {
WINAPI_EXPORT DWORD GetFileAttributesA(LPCSTR path);
WINAPI_EXPORT DWORD GetFileAttributesW(LPCWSTR path);
WINAPI_EXPORT HANDLE CreateFileA(LPCSTR path, DWORD access, DWORD share_mode,
                                 LPSECURITY_ATTRIBUTES security, DWORD disposition, DWORD flags,
                                 HANDLE template_file);
WINAPI_EXPORT DWORD SetFilePointer(HANDLE file, LONG distance, PLONG distance_high, DWORD method);
WINAPI_EXPORT BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD count, LPDWORD written,
                             LPOVERLAPPED overlapped);
WINAPI_EXPORT BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD count, LPDWORD read,
                            LPOVERLAPPED overlapped);
WINAPI_EXPORT BOOL SetEndOfFile(HANDLE file);
WINAPI_EXPORT BOOL CloseHandle(HANDLE object);
// A handle is a descriptor open in this process.
WINAPI_EXPORT BOOL GetFileInformationByHandle(HANDLE file, LPBY_HANDLE_FILE_INFORMATION info);
WINAPI_EXPORT BOOL DeleteFileA(LPCSTR path);
WINAPI_EXPORT BOOL DeleteFileW(LPCWSTR path);
WINAPI_EXPORT BOOL CopyFileA(LPCSTR source, LPCSTR target, BOOL fail_if_exists);

// The first entry that matches the path (wildcards * and ? in the last element); entries come
// in case-insensitive order, "." and ".." first. Only the first entry is kept: FindClose
// releases the search.
WINAPI_EXPORT HANDLE FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data);
WINAPI_EXPORT HANDLE FindFirstFileW(LPCWSTR path, LPWIN32_FIND_DATAW data);
WINAPI_EXPORT BOOL FindClose(HANDLE search);

// Bit n for each mapped drive letter n (A: = bit 0): the directories <drive root>/<letter>.
WINAPI_EXPORT DWORD GetLogicalDrives();
}
