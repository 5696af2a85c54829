#include "windows/dialogs/lookup_dialog.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTableWidget>
#include <QVBoxLayout>

#include "core/log.h"
#include "core/program_state.h"
#include "core/settings_file.h"
#include "core/sites.h"
#include "retrieval/param_files.h"
#include "retrieval/site_files.h"
#include "retrieval/site_script.h"
#include "windows/dialogs/dialog_fetch.h"
#include "windows/dialogs/lookup_search.h"
#include "windows/dialogs/quit_watch.h"

std::string TdlgLookup::LastLookupText;
std::string TdlgLookup::LastLookupLabel;
std::string TdlgLookup::LastLookupPick;
std::string TdlgLookup::LastLookupPage;

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

bool LoadLookupSource() {
  auto site = std::make_shared<HTTPSite>();
  StringList params;
  std::string error;
  if (!LookupFile.empty()) LoadSiteFile(LookupFile, *site, &params, error);
  if (LookupFile.empty() || !error.empty()) {
    if (!error.empty()) WriteLog("Look-up source " + LookupFile + ": " + error);
    LookupSite.reset();
    LookupParams.Clear();
    return false;
  }
  LookupSite = site;
  LookupParams = params;
  return true;
}

void TdlgLookup::ClearLastLookup() {
  LastLookupText.clear();
  LastLookupLabel.clear();
  LastLookupPick.clear();
  LastLookupPage.clear();
}

TdlgLookup::TdlgLookup(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Symbol Lookup");
  setWindowFlags(windowFlags() | Qt::MSWindowsFixedSizeDialogHint);
  Label1 = new QLabel("Enter the search terms - can be parts of the company name or partial stock symbols.", this);
  dfName = new QLineEdit(this);
  dfName->setObjectName("dfName");
  pbSearch = new QPushButton("Search", this);
  pbSearch->setDefault(true);
  pbSearch->setEnabled(false);
  Label2 = new QLabel("Pick the lookup source:", this);
  cmbSite = new QComboBox(this);
  labResults = new QLabel(this);
  labResults->hide();
  Results = new QTableWidget(0, 2, this);
  Results->setHorizontalHeaderLabels({"Symbol", "Company or Fund Name"});
  Results->setColumnWidth(0, 74);
  Results->setColumnWidth(1, 426);
  Results->horizontalHeader()->setStretchLastSection(true);
  Results->verticalHeader()->hide();
  Results->setSelectionBehavior(QAbstractItemView::SelectRows);
  Results->setSelectionMode(QAbstractItemView::SingleSelection);
  Results->setEditTriggers(QAbstractItemView::NoEditTriggers);
  // A long name wraps inside a row as high as it needs.
  Results->setWordWrap(true);
  Results->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
  connect(Results->horizontalHeader(), &QHeaderView::sectionResized, Results,
          [this] { Results->resizeRowsToContents(); });
  Results->hide();
  stStatus = new QLabel(this);
  stStatus->setAlignment(Qt::AlignCenter);
  stStatus->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  stStatus->setMinimumHeight(28);
  stStatus->hide();
  pbCancelLookup = new QPushButton("Cancel the Search", this);
  pbCancelLookup->hide();
  pbConfirm = new QPushButton("Confirm", this);
  pbConfirm->setEnabled(false);
  pbCancel = new QPushButton("Cancel", this);

  auto* v = new QVBoxLayout(this);
  v->addWidget(Label1);
  auto* row1 = new QHBoxLayout;
  row1->addWidget(dfName, 1);
  row1->addWidget(pbSearch);
  v->addLayout(row1);
  auto* row2 = new QHBoxLayout;
  row2->addWidget(Label2);
  row2->addWidget(cmbSite, 1);
  v->addLayout(row2);
  v->addWidget(labResults);
  v->addWidget(Results, 1);
  v->addWidget(stStatus);
  v->addStretch(0);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(pbCancelLookup);
  buttons->addStretch(1);
  buttons->addWidget(pbConfirm);
  buttons->addWidget(pbCancel);
  v->addLayout(buttons);
  resize(547, 279);

  connect(dfName, &QLineEdit::textChanged, this, [this] { dfNameChange(); });
  connect(cmbSite, &QComboBox::activated, this, [this] { cmbSiteClick(); });
  connect(pbSearch, &QPushButton::clicked, this, [this] { pbSearchClick(); });
  connect(pbCancelLookup, &QPushButton::clicked, this, [this] { pbCancelLookupClick(); });
  connect(Results, &QTableWidget::cellClicked, this, [this] { ResultsClick(); });
  connect(Results, &QTableWidget::cellDoubleClicked, this, [this] { ResultsDblClick(); });
  connect(pbConfirm, &QPushButton::clicked, this, [this] { pbConfirmClick(); });
  connect(pbCancel, &QPushButton::clicked, this, &QDialog::reject);
  CloseOnQuit(this);
}

TdlgLookup::~TdlgLookup() { LookupCancelled = true; }

void TdlgLookup::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TdlgLookup::done(int result) {
  // FormClose: a running search sees the flag at its next poll and ends.
  LookupCancelled = true;
  QDialog::done(result);
}

void TdlgLookup::FillSources() {
  LookupFileNames.Clear();
  LookupSourceNames.Clear();
  if (IniFile_) LookupFile = Ini().ReadString("Stocks", "LookupFile", LookupFile);
  for (const std::string& file : ProgFilesWithExtension(".lup")) {
    HTTPSite probe;
    std::string error;
    LoadSiteFile(file, probe, nullptr, error);
    if (!error.empty()) continue;
    LookupFileNames.Add(file);
    LookupSourceNames.Add(probe.Name);
  }
  cmbSite->clear();
  for (int i = 0; i < LookupSourceNames.Count(); ++i) cmbSite->addItem(Q(LookupSourceNames[i]));
  const int chosen = LookupFileNames.IndexOf(LookupFile);
  cmbSite->setCurrentIndex(chosen);
  // Search needs a loaded source: the chosen one is loaded when nothing loaded it yet.
  if (chosen >= 0 && (!LookupSite || LookupSite->Code != LookupFile)) LoadLookupSource();
  if (chosen < 0) {
    LookupSite.reset();
    LookupParams.Clear();
  }
  // Without a source Search can never run: the dialog says why.
  cmbSite->setEnabled(LookupFileNames.Count() > 0);
  if (LookupFileNames.Count() == 0) ShowStatus("No look-up source is installed", "red");
}

void TdlgLookup::FormShow() {
  ChosenSymbol.clear();
  FillSources();
  if (!LastLookupText.empty()) {
    replay_ = true;
    dfName->setText(Q(LastLookupText));
    labResults->setText(Q(LastLookupLabel));
    pbSearchClick();
    replay_ = false;
  }
  dfNameChange();
  dfName->setFocus();
}

void TdlgLookup::dfNameChange() {
  pbSearch->setEnabled(!searching_ && !dfName->text().trimmed().isEmpty() && LookupSite != nullptr);
}

void TdlgLookup::cmbSiteClick() {
  const int i = cmbSite->currentIndex();
  if (i < 0 || i >= LookupFileNames.Count()) return;
  LookupFile = LookupFileNames[i];
  if (IniFile_) Ini().WriteString("Stocks", "LookupFile", LookupFile);
  LoadLookupSource();
  dfNameChange();
}

void TdlgLookup::ShowStatus(const std::string& text, const char* background) {
  stStatus->setText(Q(text));
  stStatus->setStyleSheet(QString("QLabel { background: %1; color: white; font-weight: bold; }").arg(background));
  stStatus->show();
}

void TdlgLookup::pbSearchClick() {
  if (replay_) {
    ShowResults();
    return;
  }
  if (searching_ || !LookupSite) return;
  const std::string terms = dfName->text().toStdString();
  labResults->hide();
  Results->hide();
  pbConfirm->setEnabled(false);
  ShowStatus("Searching...", "#008000");
  searching_ = true;
  pbSearch->setEnabled(false);
  pbCancelLookup->show();
  pbCancel->hide();
  LookupCancelled = false;

  const LookupRequest req = BuildLookupRequest(LookupParams, terms);
  std::string page;
  const bool failed = !FetchDialogPage('P', req.Method, req.Host, req.Path, req.ExtraHeader, req.PostData,
                                       &LookupCancelled, page);
  searching_ = false;
  if (!isVisible()) return;  // closed meanwhile: nothing left to show
  pbCancelLookup->hide();
  pbCancel->show();
  dfNameChange();
  page = PageAsUtf8(page);
  LastLookupPage = page;
  if (DebugOn) WriteDebugLog("Lookup page: " + std::to_string(page.size()) + " bytes");

  switch (ClassifyLookupPage(page, failed, LookupCancelled || ProgramQuitting(), req.NoMatchText)) {
    case LookupOutcome::Error:
      ShowStatus("Error in Lookup.", "#c00000");
      return;
    case LookupOutcome::Cancelled:
      ShowStatus("Lookup Cancelled.", "#c00000");
      return;
    case LookupOutcome::NoMatch:
      ShowStatus("No Matches Found", "#008080");
      return;
    case LookupOutcome::Results:
      break;
  }
  labResults->setText(Q(LookupResultsLabel(page, req.TooManyText)));
  {
    std::lock_guard lock(LookupMutex);
    LookupSymbols.Clear();
    LookupNames.Clear();
  }
  TDateTime quoteTime = 0;
  std::string extra, status;
  RunSiteScript(nullptr, "LOOKUP" + page, quoteTime, extra, &LookupCancelled, status);
  ShowResults();
}

void TdlgLookup::ShowResults() {
  StringList symbols, names;
  {
    std::lock_guard lock(LookupMutex);
    symbols = LookupSymbols;
    names = LookupNames;
  }
  if (symbols.Count() == 0) {
    if (!replay_) ShowStatus("No Matches Found", "#008080");
    return;
  }
  Results->setRowCount(symbols.Count());
  int pick = -1;
  for (int i = 0; i < symbols.Count(); ++i) {
    Results->setItem(i, 0, new QTableWidgetItem(Q(symbols[i])));
    Results->setItem(i, 1, new QTableWidgetItem(Q(i < names.Count() ? names[i] : std::string())));
    if (pick < 0 && !LastLookupPick.empty() && symbols[i] == LastLookupPick) pick = i;
  }
  Results->resizeRowsToContents();
  if (pick >= 0) {
    Results->selectRow(pick);
    Results->scrollToItem(Results->item(pick, 0), QAbstractItemView::PositionAtTop);
  } else {
    Results->clearSelection();
    Results->setCurrentCell(-1, -1);
  }
  pbConfirm->setEnabled(true);
  stStatus->hide();
  labResults->show();
  Results->show();
  LastLookupText = dfName->text().toStdString();
  LastLookupLabel = labResults->text().toStdString();
}

void TdlgLookup::pbCancelLookupClick() { LookupCancelled = true; }

void TdlgLookup::ResultsClick() {
  pbConfirm->setEnabled(true);
  const int row = Results->currentRow();
  if (row >= 0 && Results->item(row, 0)) LastLookupPick = Results->item(row, 0)->text().toStdString();
}

void TdlgLookup::ResultsDblClick() { pbConfirmClick(); }

void TdlgLookup::pbConfirmClick() {
  if (!Results->isVisible()) return;
  const QList<QTableWidgetItem*> picked = Results->selectedItems();
  if (picked.isEmpty()) return;
  const int row = picked.front()->row();
  if (!Results->item(row, 0)) return;
  ChosenSymbol = Results->item(row, 0)->text().toStdString();
  LastLookupPick = ChosenSymbol;
  accept();
}
