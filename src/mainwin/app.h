#pragma once
// The application object: its exception handler logs what escaped an event handler.
#include <QApplication>

class TApplication : public QApplication {
public:
  TApplication(int& argc, char** argv) : QApplication(argc, argv) {}
  bool notify(QObject* receiver, QEvent* event) override;
};

// Logs "App Exception: " and the message; shows nothing.
void AppException(const char* message);
