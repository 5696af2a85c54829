#pragma once
// The symbol look-up dialog: finds symbols by company or fund name at a look-up source.
#include <QDialog>

#include <atomic>
#include <string>

#include "platform/string_list.h"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

class TdlgLookup : public QDialog {
public:
  explicit TdlgLookup(QWidget* parent = nullptr);
  ~TdlgLookup() override;

  QLabel* Label1 = nullptr;
  QLineEdit* dfName = nullptr;
  QPushButton* pbSearch = nullptr;
  QLabel* Label2 = nullptr;
  QComboBox* cmbSite = nullptr;
  QLabel* labResults = nullptr;
  QTableWidget* Results = nullptr;
  QLabel* stStatus = nullptr;
  QPushButton* pbCancelLookup = nullptr;
  QPushButton* pbConfirm = nullptr;
  QPushButton* pbCancel = nullptr;

  std::string ChosenSymbol;
  std::atomic<bool> LookupCancelled{false};
  StringList LookupFileNames;
  StringList LookupSourceNames;

  void FillSources();
  void FormShow();
  void dfNameChange();
  void cmbSiteClick();
  void pbSearchClick();
  void pbCancelLookupClick();
  void ResultsClick();
  void ResultsDblClick();
  void pbConfirmClick();

  // The last search, kept between dialogs and shown again when one opens.
  static std::string LastLookupText;
  static std::string LastLookupLabel;
  static std::string LastLookupPick;
  // The last result page, kept in memory for the debug trace.
  static std::string LastLookupPage;
  static void ClearLastLookup();

  void done(int result) override;

protected:
  void showEvent(QShowEvent* event) override;

private:
  void ShowStatus(const std::string& text, const char* background);
  void ShowResults();
  bool replay_ = false;
  bool searching_ = false;
};

// Loads the source named by LookupFile into LookupSite and LookupParams; false (both emptied)
// when the file does not load.
bool LoadLookupSource();
