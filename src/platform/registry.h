#pragma once
// The few values the program keeps per user outside its folder, under a key path such as
// "\SOFTWARE\4HB\Vantora". Kept in $XDG_CONFIG_HOME/vantora/registry.ini (~/.config when unset),
// readable by the user only.
#include <memory>
#include <string>
#include <string_view>

class IniFile;

class RegistryStore {
public:
  // The store of the current user; a test may point it at another file.
  static RegistryStore& CurrentUser();
  static void SetFileForTests(const std::string& path);
  // The current user's file, the store made or not.
  static std::string CurrentPath();

  explicit RegistryStore(const std::string& path);
  ~RegistryStore();

  std::string ReadString(std::string_view keyPath, std::string_view name, std::string_view def = "");
  bool WriteString(std::string_view keyPath, std::string_view name, std::string_view value);
  bool ValueExists(std::string_view keyPath, std::string_view name);
  void DeleteValue(std::string_view keyPath, std::string_view name);
  // The file holds what the user had and could not be kept aside: nothing is written to it.
  void RefuseWrites() { refused_ = true; }

  static std::string DefaultPath();

private:
  std::unique_ptr<IniFile> file_;
  bool refused_ = false;
};
