// The profile reader: the INI model and the profile functions over a file.
#include "platform/profile/Profile.h"

#include "platform/profile/IniFile.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace tagwell::profile;
  std::string text(reinterpret_cast<const char*>(data), size);
  IniDocument document(text);
  document.Find("Clients", "Active");
  document.PreferredLineEnd();
  const std::string path = tagwell::fuzz::WriteInput(data, size, "Config.ini");
  char value[64];
  GetPrivateProfileString("Clients", "Number", "0", value, sizeof value, path);
  // Rewrites the file as the profile writers do.
  WritePrivateProfileString("Clients", "Number", "1", path);
  return 0;
}
