#include "platform/registry.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "platform/ini_file.h"

namespace {
std::mutex storeMutex;
std::unique_ptr<RegistryStore> store;
std::string testPath;
}  // namespace

std::string RegistryStore::DefaultPath() {
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x) base = x;
  else if (const char* h = std::getenv("HOME"); h && *h) base = std::string(h) + "/.config";
  else base = "/tmp";
  return base + "/vantora/registry.ini";
}

RegistryStore& RegistryStore::CurrentUser() {
  std::lock_guard lock(storeMutex);
  if (!store) store = std::make_unique<RegistryStore>(testPath.empty() ? DefaultPath() : testPath);
  return *store;
}

void RegistryStore::SetFileForTests(const std::string& path) {
  std::lock_guard lock(storeMutex);
  testPath = path;
  store = std::make_unique<RegistryStore>(path);
}

std::string RegistryStore::CurrentPath() {
  std::lock_guard lock(storeMutex);
  return testPath.empty() ? DefaultPath() : testPath;
}

RegistryStore::RegistryStore(const std::string& path) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  file_ = std::make_unique<IniFile>(path, 0600);
}

RegistryStore::~RegistryStore() = default;

std::string RegistryStore::ReadString(std::string_view keyPath, std::string_view name, std::string_view def) {
  return file_->ReadString(keyPath, name, def);
}

bool RegistryStore::WriteString(std::string_view keyPath, std::string_view name, std::string_view value) {
  return !refused_ && file_->WriteString(keyPath, name, value);
}

bool RegistryStore::ValueExists(std::string_view keyPath, std::string_view name) {
  return file_->ValueExists(keyPath, name);
}

void RegistryStore::DeleteValue(std::string_view keyPath, std::string_view name) {
  if (!refused_) file_->DeleteKey(keyPath, name);
}
