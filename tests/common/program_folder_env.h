#pragma once
// Runs every test of an executable in a fresh temporary program folder, with error dialogs
// suppressed and an offscreen application object for painting and windows.
#include <gtest/gtest.h>

#include <QApplication>

#include <filesystem>
#include <functional>
#include <string>

class ProgramFolderEnvironment : public ::testing::Environment {
public:
  // name: the executable's name; afterSetUp runs once the folder and settings file exist,
  // beforeTearDown before the folder goes.
  explicit ProgramFolderEnvironment(std::string name, std::function<void()> afterSetUp = {},
                                    std::function<void()> beforeTearDown = {});
  void SetUp() override;
  void TearDown() override;

private:
  std::string name_;
  std::function<void()> afterSetUp_, beforeTearDown_;
  std::filesystem::path dir_;
  QApplication* app_ = nullptr;
};
