#pragma once
// The features that plug into the main window: each fills its own hooks through one installer.
class QWidget;

// Runs every feature's installer once, after the GIF class is initialised.
void InstallFeatures(QWidget* mainWindow);
// Empties every hook table the installers fill, so nothing keeps pointing at the main window.
void UninstallFeatures();
