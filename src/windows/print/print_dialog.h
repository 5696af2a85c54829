#pragma once
// TdlgPrintPort: "Print Portfolio(s)" — the user picks portfolios, view, sort, font, cell
// spacing and margins, sees the pages in the preview and prints them (to a PDF file the user
// names when no printer is installed).
#include <QDialog>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "windows/print/portfolio_report.h"
#include "windows/print/print_settings.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSlider;
class QSpinBox;
class QToolButton;
class QWidget;
class TStockGrid;

class TdlgPrintPort : public QDialog {
public:
  // mainWindow owns the dialog; what the dialog opens belongs to the dialog.
  explicit TdlgPrintPort(QWidget* mainWindow);
  ~TdlgPrintPort() override;

  QListWidget* lbPorts;
  QPushButton *pbSelAll, *pbClearAll;
  QCheckBox* cbNewPage;
  QComboBox* cmbViews;
  QPushButton* pbEditViews;
  QComboBox* cmbSortCol;
  QToolButton *sbAsc, *sbDesc;
  QSpinBox *udFont, *udPadX, *udPadY, *udMarTop, *udMarLeft, *udMarRight, *udMarBottom;
  QToolButton *pbDetailed, *pbBasic;
  TPagePrinter* PP;
  QSlider* ZoomBar;
  QLabel* lbZoom;
  QPushButton *pbBestFit, *pbUDfit, *pbRLfit;
  QPushButton *pbLeft, *pbRight;
  QLabel* lbPage;
  QPushButton *pbPreview, *pbPrintSetup, *pbPrintIt, *pbClose;
  QLabel *lbProcess, *lbPrinting, *lbNoPrinter;

  // Asks for the PDF file when no printer is installed; empty: the user cancelled.
  std::function<std::string(const std::string& suggested)> AskPdfFileName;
  // Asks whether an existing file may be replaced.
  std::function<bool(const std::string& name)> ConfirmReplace;

  void FormShow();
  void FormActivate();
  // False when the pages were not all made (cancelled, or an error was reported).
  bool GeneratePreview();
  void FillSortList();
  void pbSelAllClick();
  void pbClearAllClick();
  void ChoiceChanged();  // any change of choices enables Preview
  void cmbViewsClick();
  void pbEditViewsClick();
  void pbPreviewClick();
  void pbPrintSetupClick();
  void pbPrintItClick();
  void pbBestFitClick();
  void pbUDfitClick();
  void pbRLfitClick();
  void ZoomBarChange(int position);
  void pbLeftClick();
  void pbRightClick();
  void pbDetailedClick();
  bool Detailed() const { return detailed_; }
  ReportChoices Choices() const;
  PrintDialogSettings CurrentSettings() const;
  bool Busy() const { return busy_; }
  // No printer is installed: Print It writes a PDF file.
  static bool NoPrinterInstalled();

protected:
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  bool event(QEvent* e) override;
  void reject() override;

private:
  // The dialog's own keys; true when the key was one of them.
  bool HandleKey(QKeyEvent* e);
  void ShowZoom();
  void ShowPage();
  void LayOutMode();
  void SelectSortTitle(const std::string& title);
  // True when the work ran to its end without a cancel or an error.
  bool RunGuarded(const char* position, const std::function<void()>& work);

  std::unique_ptr<TStockGrid> grid_;
  std::unique_ptr<TPortfolioReport> report_;
  QWidget* detailedBox_ = nullptr;
  PrintDialogSettings settings_;
  bool firstActivation_ = true;
  bool shown_ = false;
  bool detailed_ = false;
  bool busy_ = false;
  bool closePending_ = false;
  std::atomic<bool> cancel_{false};
};

// Shows the dialog modally and frees it (the main window's Print command).
void OpenPrintDialog(QWidget* mainWindow);
