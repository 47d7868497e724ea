// For readers that take a path: the fuzzer's bytes written to a file of a
// private folder made once per process (and removed at its exit),
// rewritten for every input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace tagwell::fuzz {

inline const std::string& Folder() {
  static char name[] = "/tmp/tagwell-fuzz-XXXXXX";
  static const std::string folder = [] {
    if (!::mkdtemp(name)) std::abort();
    std::atexit([] {
      std::error_code ignored;
      std::filesystem::remove_all(name, ignored);
    });
    return std::string(name);
  }();
  return folder;
}

// Writes the bytes to FOLDER/name and returns its path.
inline std::string WriteInput(const std::uint8_t* data, std::size_t size, const char* name) {
  std::string path = Folder() + "/" + name;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (!file || std::fwrite(data, 1, size, file) != size || std::fclose(file) != 0) std::abort();
  return path;
}

}  // namespace tagwell::fuzz
