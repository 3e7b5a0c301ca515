#include <windows.h>

#include <string>

#include "platform/file_os.h"

namespace platform::os {
namespace {

// Arguments arrive in the ANSI code page; the wide calls take any path.
std::wstring wide(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (length <= 0) return {};
  std::wstring result(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), result.data(), length);
  return result;
}

std::string system_message(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code,
      0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text = length > 0 && buffer != nullptr ? std::string(buffer, length) : std::string();
  LocalFree(buffer);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.' || text.back() == ' ')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(code) : text;
}

FileError from_code(DWORD code) {
  switch (code) {
    case ERROR_SUCCESS:
      return {};
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
      return {FileErrorKind::kNoSuchFolder, {}};
    case ERROR_ACCESS_DENIED:
      return {FileErrorKind::kPermissionDenied, {}};
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return {FileErrorKind::kExists, {}};
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return {FileErrorKind::kNoSpace, {}};
    case ERROR_WRITE_PROTECT:
      return {FileErrorKind::kReadOnly, {}};
    default:
      return {FileErrorKind::kOther, system_message(code)};
  }
}

FileError last_error() { return from_code(GetLastError()); }

FileError write_all(HANDLE file, std::string_view content) {
  while (!content.empty()) {
    const DWORD chunk = content.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(content.size());
    DWORD written = 0;
    if (!WriteFile(file, content.data(), chunk, &written, nullptr)) return last_error();
    if (written == 0) return from_code(ERROR_HANDLE_DISK_FULL);
    content.remove_prefix(written);
  }
  return {};
}

FileError close_checked(HANDLE file, FileError so_far) {
  const BOOL closed = CloseHandle(file);
  if (so_far.failed()) return so_far;
  return closed ? FileError{} : last_error();
}

}  // namespace

FileError path_kind(const std::string& path, PathKind& kind) {
  const std::wstring name = wide(path);
  kind = PathKind::kMissing;
  const DWORD attributes = GetFileAttributesW(name.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    kind = PathKind::kFolder;
    return {};
  }
  // Devices (NUL, CON) and pipes are told apart from files by their handle
  // type; what cannot be opened is left to the write, which tells why.
  const HANDLE file = CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return {};
  const DWORD type = GetFileType(file);
  CloseHandle(file);
  kind = type == FILE_TYPE_DISK ? PathKind::kRegular : PathKind::kOther;
  return {};
}

// Links need a privilege to make on Windows and the rename replaces what the
// name holds, so no chain is followed.
std::optional<std::string> read_link(const std::string&) { return std::nullopt; }

// No folder there lets only owners replace names; the rename itself decides.
FileError replace_facts(const std::string&, const std::string&, ReplaceFacts& facts) {
  facts = ReplaceFacts{};
  return {};
}

FileHandle standard_stream_of(const std::string& path) {
  const HANDLE file = CreateFileW(wide(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return kNoFile;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = GetFileInformationByHandle(file, &info) != 0;
  CloseHandle(file);
  if (!known) return kNoFile;
  for (const DWORD stream : {STD_OUTPUT_HANDLE, STD_ERROR_HANDLE}) {
    const HANDLE handle = GetStdHandle(stream);
    BY_HANDLE_FILE_INFORMATION other{};
    if (handle == INVALID_HANDLE_VALUE || handle == nullptr || GetFileType(handle) != FILE_TYPE_DISK ||
        GetFileInformationByHandle(handle, &other) == 0 || other.dwVolumeSerialNumber != info.dwVolumeSerialNumber ||
        other.nFileIndexHigh != info.nFileIndexHigh || other.nFileIndexLow != info.nFileIndexLow) {
      continue;
    }
    // A duplicate shares the stream's file pointer, so the result follows its text.
    HANDLE copy = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), handle, GetCurrentProcess(), &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) {
      return reinterpret_cast<FileHandle>(copy);
    }
  }
  return kNoFile;
}

FileError open_in_place(const std::string& path, FileHandle& file) {
  const HANDLE handle = CreateFileW(wide(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return last_error();
  file = reinterpret_cast<FileHandle>(handle);
  return {};
}

FileError write_to(FileHandle file, std::string_view content) {
  return write_all(reinterpret_cast<HANDLE>(file), content);
}

FileError close_file(FileHandle file) { return close_checked(reinterpret_cast<HANDLE>(file), {}); }

FileError write_new_file(const std::string& path, std::string_view content) {
  const HANDLE file =
      CreateFileW(wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return last_error();
  FileError error = write_all(file, content);
  if (!error.failed() && !FlushFileBuffers(file)) error = last_error();
  return close_checked(file, error);
}

FileError replace_file(const std::string& from, const std::string& to) {
  if (MoveFileExW(wide(from).c_str(), wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return {};
  }
  return last_error();
}

void remove_file(const std::string& path) { (void)DeleteFileW(wide(path).c_str()); }

std::uint64_t process_tag() { return GetCurrentProcessId(); }

}  // namespace platform::os
