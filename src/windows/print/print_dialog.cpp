#include "windows/print/print_dialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPageSetupDialog>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QPrinterInfo>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <vector>

#include "core/button_form.h"
#include "core/error_report.h"
#include "core/locks.h"
#include "core/log.h"
#include "core/portfolios.h"
#include "core/program_state.h"
#include "core/settings.h"
#include "grid/grid_columns.h"
#include "grid/grid_views.h"
#include "grid/stock_grid.h"
#include "prefs/prefs_dialog.h"

namespace {

constexpr const char* NoSort = "--None--";

QSpinBox* UpDown(QWidget* parent, int lo, int hi) {
  auto* s = new QSpinBox(parent);
  s->setRange(lo, hi);
  s->setFixedWidth(50);
  return s;
}

// The zoom bar: its ticks stand at 5, 10, ... 30 (50 % to 300 %), not every 5 steps from its
// lowest position as a plain slider would place them.
class ZoomTrackBar : public QSlider {
public:
  explicit ZoomTrackBar(QWidget* parent) : QSlider(Qt::Vertical, parent) {}
  std::vector<int> Ticks;

protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    QStyleOptionSlider opt;
    initStyleOption(&opt);
    opt.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &opt, &p, this);
    // Where the style would draw its own ticks: right of the groove, at the handle's middle.
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &opt, QStyle::SC_SliderHandle, this);
    const int span = groove.height() - handle.height();
    const int left = std::max(groove.right(), handle.right()) + 2, right = width() - 2;
    p.setPen(palette().color(QPalette::WindowText));
    for (int v : Ticks) {
      const int y = groove.top() + handle.height() / 2 +
                    QStyle::sliderPositionFromValue(minimum(), maximum(), v, span, opt.upsideDown);
      p.drawLine(left, y, right, y);
    }
  }
};

QLabel* Banner(QWidget* parent, const char* text, const char* color) {
  auto* l = new QLabel(QString::fromUtf8(text), parent);
  l->setStyleSheet(QStringLiteral("background:%1; color:black; border:1px solid black; font-weight:bold; padding:2px;").arg(color));
  l->setAlignment(Qt::AlignCenter);
  l->hide();
  return l;
}

// The live settings take their current view as the preferences left it, and every grid that
// draws from them (the main window's) is laid out again at once.
void ApplyLiveView() {
  ApplyView(LiveSettings.CurView, LiveSettings);
  for (QWidget* top : QApplication::topLevelWidgets())
    for (TStockGrid* grid : top->findChildren<TStockGrid*>())
      if (grid->Layout == &LiveSettings) grid->ApplyLayout(true);
}

}  // namespace

bool TdlgPrintPort::NoPrinterInstalled() { return QPrinterInfo::availablePrinterNames().isEmpty(); }

// Above the main window that owns it, not above every window: the dialogs it opens come
// above it.
TdlgPrintPort::TdlgPrintPort(QWidget* mainWindow)
    : QDialog(mainWindow, Qt::Dialog | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Print Portfolio(s)"));
  setAttribute(Qt::WA_DeleteOnClose, false);
  detailed_ = LoadPrintSettings().Detailed;
  setCursor(Qt::WaitCursor);

  // Left column: what to print.
  auto* left = new QVBoxLayout;
  left->setSpacing(4);
  left->addWidget(new QLabel(QStringLiteral("Portfolio(s) to print"), this));
  lbPorts = new QListWidget(this);
  left->addWidget(lbPorts, 1);
  auto* selRow = new QHBoxLayout;
  pbSelAll = new QPushButton(QStringLiteral("Select &All"), this);
  pbClearAll = new QPushButton(QStringLiteral("&Clear All"), this);
  selRow->addWidget(pbSelAll);
  selRow->addWidget(pbClearAll);
  left->addLayout(selRow);
  cbNewPage = new QCheckBox(QStringLiteral("Print Each on New Page"), this);
  left->addWidget(cbNewPage);
  auto* viewLabel = new QLabel(QStringLiteral("&View"), this);
  cmbViews = new QComboBox(this);
  viewLabel->setBuddy(cmbViews);
  pbEditViews = new QPushButton(QStringLiteral("&Edit Views"), this);
  auto* viewRow = new QHBoxLayout;
  viewRow->addWidget(cmbViews, 1);
  viewRow->addWidget(pbEditViews);
  left->addWidget(viewLabel);
  left->addLayout(viewRow);
  auto* sortLabel = new QLabel(QStringLiteral("So&rted By"), this);
  cmbSortCol = new QComboBox(this);
  sortLabel->setBuddy(cmbSortCol);
  sbAsc = new QToolButton(this);
  sbDesc = new QToolButton(this);
  sbAsc->setArrowType(Qt::UpArrow);
  sbDesc->setArrowType(Qt::DownArrow);
  sbAsc->setToolTip(QStringLiteral("Smallest first"));
  sbDesc->setToolTip(QStringLiteral("Largest first"));
  for (QToolButton* b : {sbAsc, sbDesc}) b->setCheckable(true);
  auto* dir = new QButtonGroup(this);
  dir->addButton(sbAsc);
  dir->addButton(sbDesc);
  dir->setExclusive(true);
  auto* sortRow = new QHBoxLayout;
  sortRow->addWidget(cmbSortCol, 1);
  sortRow->addWidget(sbAsc);
  sortRow->addWidget(sbDesc);
  left->addWidget(sortLabel);
  left->addLayout(sortRow);
  auto* fontRow = new QHBoxLayout;
  udFont = UpDown(this, 4, 30);
  fontRow->addWidget(new QLabel(QStringLiteral("Font Size"), this));
  fontRow->addWidget(udFont);
  fontRow->addStretch();
  pbDetailed = new QToolButton(this);
  pbDetailed->setText(QStringLiteral("More >>"));
  pbDetailed->setToolTip(QStringLiteral("Cell spacing and margins (Alt+D)"));
  pbBasic = new QToolButton(this);
  pbBasic->setText(QStringLiteral("<< Less"));
  pbBasic->setToolTip(QStringLiteral("Hide cell spacing and margins (Alt+B)"));
  fontRow->addWidget(pbDetailed);
  fontRow->addWidget(pbBasic);
  left->addLayout(fontRow);

  // The detailed mode's cell spacing and margins.
  detailedBox_ = new QWidget(this);
  auto* det = new QGridLayout(detailedBox_);
  det->setContentsMargins(0, 0, 0, 0);
  udPadX = UpDown(detailedBox_, 0, 20);
  udPadY = UpDown(detailedBox_, 0, 20);
  udMarTop = UpDown(detailedBox_, 0, 20);
  udMarLeft = UpDown(detailedBox_, 0, 20);
  udMarRight = UpDown(detailedBox_, 0, 20);
  udMarBottom = UpDown(detailedBox_, 0, 20);
  det->addWidget(new QLabel(QStringLiteral("Pad Cells:"), detailedBox_), 0, 0, 1, 4);
  det->addWidget(new QLabel(QStringLiteral("X"), detailedBox_), 1, 0);
  det->addWidget(udPadX, 1, 1);
  det->addWidget(new QLabel(QStringLiteral("Y"), detailedBox_), 1, 2, Qt::AlignRight);
  det->addWidget(udPadY, 1, 3);
  det->addWidget(new QLabel(QStringLiteral("Margins"), detailedBox_), 2, 0, 1, 4);
  det->addWidget(new QLabel(QStringLiteral("Top"), detailedBox_), 3, 0);
  det->addWidget(udMarTop, 3, 1);
  det->addWidget(new QLabel(QStringLiteral("Left"), detailedBox_), 3, 2, Qt::AlignRight);
  det->addWidget(udMarLeft, 3, 3);
  det->addWidget(new QLabel(QStringLiteral("Right"), detailedBox_), 4, 0);
  det->addWidget(udMarRight, 4, 1);
  det->addWidget(new QLabel(QStringLiteral("Bottom"), detailedBox_), 4, 2, Qt::AlignRight);
  det->addWidget(udMarBottom, 4, 3);
  det->setColumnStretch(4, 1);
  left->addWidget(detailedBox_);

  // Right: the preview with its zoom bar and page buttons.
  PP = new TPagePrinter(this);
  PP->TableGrid = true;
  PP->PadCellY = 0;
  PP->SetMarginTop(0.25);
  PP->SetMarginBottom(0.25);
  PP->SetMarginLeft(0.25);
  PP->SetMarginRight(0.25);
  PP->SetFriendlyHeader("&r Page: &p");
  PP->SetFooterFormat("<8.27");
  PP->GradientBackground = false;
  PP->ShadowColor = Qt::black;
  QFont courier(QStringLiteral("Courier New"));
  courier.setPointSizeF(13 * 72.0 / 96.0);  // 13 pixels on the form's 96 dpi
  PP->SetFont(courier);
  PP->setMinimumSize(200, 200);

  auto* zoomBar = new ZoomTrackBar(this);
  zoomBar->Ticks = {30, 25, 20, 15, 10, 5};
  ZoomBar = zoomBar;
  ZoomBar->setRange(1, 40);
  ZoomBar->setInvertedAppearance(true);
  ZoomBar->setTickPosition(QSlider::TicksRight);  // the room for them
  ZoomBar->setPageStep(5);
  auto* zoomCol = new QGridLayout;
  zoomCol->addWidget(ZoomBar, 0, 0, 5, 1);
  const char* marks[5] = {"10%", "100%", "200%", "300%", "400%"};
  for (int i = 0; i < 5; ++i)
    zoomCol->addWidget(new QLabel(QString::fromUtf8(marks[i]), this), i, 1, i == 0 ? Qt::AlignTop : i == 4 ? Qt::AlignBottom : Qt::AlignVCenter);
  lbZoom = new QLabel(this);
  lbZoom->setMinimumWidth(lbZoom->fontMetrics().horizontalAdvance(QStringLiteral("Zoom = 400%")) + 4);
  pbBestFit = new QPushButton(QStringLiteral("Page"), this);
  pbUDfit = new QPushButton(QStringLiteral("Height"), this);
  pbRLfit = new QPushButton(QStringLiteral("Width"), this);
  pbBestFit->setToolTip(QStringLiteral("Fit the whole page"));
  pbUDfit->setToolTip(QStringLiteral("Fit the page height"));
  pbRLfit->setToolTip(QStringLiteral("Fit the page width"));

  pbLeft = new QPushButton(QStringLiteral("<"), this);
  pbRight = new QPushButton(QStringLiteral(">"), this);
  pbLeft->setToolTip(QStringLiteral("Previous page (Ctrl+Left)"));
  pbRight->setToolTip(QStringLiteral("Next page (Ctrl+Right)"));
  lbPage = new QLabel(this);
  lbPage->setAlignment(Qt::AlignCenter);
  lbPage->setMinimumWidth(lbPage->fontMetrics().horizontalAdvance(QStringLiteral("Page 888 of 888")) + 8);
  for (QPushButton* b : {pbBestFit, pbUDfit, pbRLfit, pbLeft, pbRight}) b->setAutoDefault(false);
  auto* fitBox = new QVBoxLayout;
  fitBox->addWidget(lbZoom);
  fitBox->addWidget(new QLabel(QStringLiteral("Best Fit"), this));
  fitBox->addWidget(pbBestFit);
  fitBox->addWidget(pbUDfit);
  fitBox->addWidget(pbRLfit);
  zoomCol->addLayout(fitBox, 5, 0, 1, 2);
  for (int row = 0; row < 5; ++row) zoomCol->setRowStretch(row, 1);
  for (QPushButton* b : {pbLeft, pbRight}) b->setFixedWidth(b->fontMetrics().horizontalAdvance(QStringLiteral("<<")) + 24);
  auto* pageRow = new QHBoxLayout;
  pageRow->addStretch();
  pageRow->addWidget(pbLeft);
  pageRow->addWidget(lbPage);
  pageRow->addWidget(pbRight);
  pageRow->addStretch();

  auto* previewCol = new QVBoxLayout;
  auto* previewRow = new QHBoxLayout;
  previewRow->addWidget(PP, 1);
  previewRow->addLayout(zoomCol);
  previewCol->addLayout(previewRow, 1);
  previewCol->addLayout(pageRow);

  lbNoPrinter = new QLabel(QStringLiteral("No printer is installed: Print It saves the pages as a PDF file."), this);
  lbNoPrinter->setWordWrap(true);
  lbNoPrinter->setVisible(NoPrinterInstalled());
  left->addWidget(lbNoPrinter);
  auto* leftBox = new QWidget(this);
  leftBox->setLayout(left);
  left->setContentsMargins(0, 0, 0, 0);
  leftBox->setFixedWidth(225);
  auto* top = new QHBoxLayout;
  top->addWidget(leftBox);
  top->addLayout(previewCol, 1);

  // Bottom: banners and the buttons.
  lbProcess = Banner(this, "   Generating Preview...   ", "lime");
  lbPrinting = Banner(this, "Printing...", "yellow");
  pbPreview = new QPushButton(QStringLiteral("Previe&w"), this);
  pbPrintSetup = new QPushButton(NoPrinterInstalled() ? QStringLiteral("Page &Setup") : QStringLiteral("Printer &Setup"), this);
  pbPrintIt = new QPushButton(QStringLiteral("&Print It"), this);
  pbClose = new QPushButton(QStringLiteral("Close"), this);
  pbPrintIt->setDefault(true);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(lbProcess);
  bottom->addWidget(lbPrinting);
  bottom->addStretch();
  for (QPushButton* b : {pbPreview, pbPrintSetup, pbPrintIt, pbClose}) bottom->addWidget(b);

  auto* root = new QVBoxLayout(this);
  root->addLayout(top, 1);
  root->addLayout(bottom);

  // The hidden grid the report fills; its layout record is the print dialog's own.
  grid_ = std::make_unique<TStockGrid>(this);
  grid_->hide();
  grid_->Layout = &PrintSettings;
  report_ = std::make_unique<TPortfolioReport>(*PP, *grid_);
  report_->Cancel = &cancel_;

  connect(lbPorts, &QListWidget::itemChanged, this, [this] { ChoiceChanged(); });
  connect(pbSelAll, &QPushButton::clicked, this, [this] { pbSelAllClick(); });
  connect(pbClearAll, &QPushButton::clicked, this, [this] { pbClearAllClick(); });
  connect(cbNewPage, &QCheckBox::toggled, this, [this] { ChoiceChanged(); });
  connect(cmbViews, &QComboBox::activated, this, [this] { cmbViewsClick(); });
  connect(cmbSortCol, &QComboBox::activated, this, [this] { ChoiceChanged(); });
  connect(sbAsc, &QToolButton::clicked, this, [this] { ChoiceChanged(); });
  connect(sbDesc, &QToolButton::clicked, this, [this] { ChoiceChanged(); });
  for (QSpinBox* s : {udFont, udPadX, udPadY, udMarTop, udMarLeft, udMarRight, udMarBottom})
    connect(s, &QSpinBox::valueChanged, this, [this] { ChoiceChanged(); });
  connect(pbEditViews, &QPushButton::clicked, this, [this] { pbEditViewsClick(); });
  connect(pbPreview, &QPushButton::clicked, this, [this] { pbPreviewClick(); });
  connect(pbPrintSetup, &QPushButton::clicked, this, [this] { pbPrintSetupClick(); });
  connect(pbPrintIt, &QPushButton::clicked, this, [this] { pbPrintItClick(); });
  connect(pbClose, &QPushButton::clicked, this, [this] { close(); });
  connect(pbBestFit, &QPushButton::clicked, this, [this] { pbBestFitClick(); });
  connect(pbUDfit, &QPushButton::clicked, this, [this] { pbUDfitClick(); });
  connect(pbRLfit, &QPushButton::clicked, this, [this] { pbRLfitClick(); });
  connect(ZoomBar, &QSlider::valueChanged, this, [this](int v) { ZoomBarChange(v); });
  connect(pbLeft, &QPushButton::clicked, this, [this] { pbLeftClick(); });
  connect(pbRight, &QPushButton::clicked, this, [this] { pbRightClick(); });
  connect(pbDetailed, &QToolButton::clicked, this, [this] { pbDetailedClick(); });
  connect(pbBasic, &QToolButton::clicked, this, [this] { pbDetailedClick(); });

  AskPdfFileName = [this](const std::string& suggested) {
    QFileDialog ask(this, QStringLiteral("Save the pages as PDF"), QString::fromStdString(suggested),
                    QStringLiteral("PDF files (*.pdf)"));
    ask.setAcceptMode(QFileDialog::AcceptSave);
    ask.setDefaultSuffix(QStringLiteral("pdf"));  // so the replace question is about the file written
    if (ask.exec() != QDialog::Accepted || ask.selectedFiles().isEmpty()) return std::string();
    return ask.selectedFiles().front().toStdString();
  };
  ConfirmReplace = [this](const std::string& name) {
    return QMessageBox::question(this, QStringLiteral("Save the pages as PDF"),
                                 QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                     .arg(QFileInfo(QString::fromStdString(name)).fileName()),
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
  };
  LayOutMode();
  for (QWidget* w : findChildren<QWidget*>()) w->installEventFilter(this);
}

TdlgPrintPort::~TdlgPrintPort() {
  // The report and the grid go before the page printer they use.
  report_.reset();
  grid_.reset();
}

void TdlgPrintPort::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (!shown_) {
    shown_ = true;
    FormShow();
    // The first preview is built once the window is up, so the user sees it being made.
    QTimer::singleShot(0, this, [this] { FormActivate(); });
  }
}

bool TdlgPrintPort::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate && shown_ && !firstActivation_ && !busy_) pbBestFitClick();
  return QDialog::event(e);
}

void TdlgPrintPort::FormShow() {
  settings_ = LoadPrintSettings();
  setGeometry(settings_.FormLeft, settings_.FormTop, settings_.FormWidth, settings_.FormHeight);
  EnsureOnScreen(this);
  {
    const QSignalBlocker block(lbPorts);
    lbPorts->clear();
    LockHold hold(PortLock, "PRINTDLG");
    if (hold) {
      for (int i = 0; i < PortDefs.Count(); ++i) {
        auto* item = new QListWidgetItem(QString::fromStdString(PortDefName(PortDefs[i])), lbPorts);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(i + 1 == CurPortIndex ? Qt::Checked : Qt::Unchecked);  // numbered from 1
      }
    }
  }
  cmbViews->clear();
  for (int i = 0; i < ViewNames.Count(); ++i) cmbViews->addItem(QString::fromStdString(ViewNames[i]));
  cmbViews->model()->sort(0);
  const int view = cmbViews->findText(QString::fromStdString(LiveSettings.CurView), Qt::MatchFixedString);
  cmbViews->setCurrentIndex(std::max(0, view));
  for (QSpinBox* s : {udFont, udPadX, udPadY, udMarTop, udMarLeft, udMarRight, udMarBottom}) s->blockSignals(true);
  udFont->setValue(settings_.PortFont);
  udPadX->setValue(settings_.PadX);
  udPadY->setValue(settings_.PadY);
  udMarTop->setValue(settings_.MarTop);
  udMarLeft->setValue(settings_.MarLeft);
  udMarRight->setValue(settings_.MarRight);
  udMarBottom->setValue(settings_.MarBottom);
  for (QSpinBox* s : {udFont, udPadX, udPadY, udMarTop, udMarLeft, udMarRight, udMarBottom}) s->blockSignals(false);
  {
    const QSignalBlocker block(cbNewPage);
    cbNewPage->setChecked(settings_.NewPage);
  }
  FillSortList();
  SelectSortTitle(settings_.SortBy);
  (settings_.SortUp ? sbAsc : sbDesc)->setChecked(true);
  ZoomBar->blockSignals(true);
  ZoomBar->setValue(std::clamp(PP->ZoomPercent() / 10, 1, 40));
  ZoomBar->blockSignals(false);
  ShowZoom();
  ShowPage();
  unsetCursor();
}

void TdlgPrintPort::FormActivate() {
  if (firstActivation_) {
    firstActivation_ = false;
    GeneratePreview();
    pbPreview->setEnabled(false);
  }
  pbBestFitClick();
}

void TdlgPrintPort::SelectSortTitle(const std::string& title) {
  const int at = cmbSortCol->findText(QString::fromStdString(title), Qt::MatchFixedString | Qt::MatchCaseSensitive);
  cmbSortCol->setCurrentIndex(std::max(0, at));
}

void TdlgPrintPort::FillSortList() {
  const std::vector<int> kinds = report_->LayoutView(cmbViews->currentText().toStdString());
  QStringList titles;
  for (int k : kinds)
    if (k != SepCol && k != ChartCol) titles << QString::fromUtf8(ColTitles[static_cast<size_t>(k)]);
  titles.sort();
  titles.removeDuplicates();
  cmbSortCol->clear();
  cmbSortCol->addItem(QString::fromUtf8(NoSort));
  cmbSortCol->addItems(titles);
}

ReportChoices TdlgPrintPort::Choices() const {
  ReportChoices c;
  for (int i = 0; i < lbPorts->count(); ++i)
    if (lbPorts->item(i)->checkState() == Qt::Checked) c.Portfolios.push_back(lbPorts->item(i)->text().toStdString());
  c.View = cmbViews->currentText().toStdString();
  c.Options = CurrentSettings();
  return c;
}

PrintDialogSettings TdlgPrintPort::CurrentSettings() const {
  PrintDialogSettings s;
  const QRect g = normalGeometry().isValid() ? normalGeometry() : geometry();
  s.FormLeft = g.left();
  s.FormTop = g.top();
  s.FormWidth = g.width();
  s.FormHeight = g.height();
  s.PortFont = udFont->value();
  s.PadX = udPadX->value();
  s.PadY = udPadY->value();
  s.MarTop = udMarTop->value();
  s.MarLeft = udMarLeft->value();
  s.MarRight = udMarRight->value();
  s.MarBottom = udMarBottom->value();
  s.NewPage = cbNewPage->isChecked();
  s.SortBy = cmbSortCol->currentText().toStdString();
  s.SortUp = !sbDesc->isChecked();
  s.Detailed = detailed_;
  return s;
}

bool TdlgPrintPort::RunGuarded(const char* position, const std::function<void()>& work) {
  // Waits inside pump events: a second preview or print must not start meanwhile.
  if (busy_) return false;
  busy_ = true;
  cancel_ = false;
  bool done = false;
  try {
    work();
    done = !cancel_;
  } catch (const ECancelPrinting&) {
    WriteLog(std::string("Print: ") + position + " cancelled");
  } catch (const std::exception& e) {
    ShowErrorReport(e.what(), position);
  }
  busy_ = false;
  ShowPage();
  if (closePending_) {
    closePending_ = false;
    QTimer::singleShot(0, this, [this] { close(); });
  }
  return done;
}

bool TdlgPrintPort::GeneratePreview() {
  return RunGuarded("PRINT", [this] {
    lbProcess->show();
    lbProcess->repaint();
    struct Hide {
      QLabel* l;
      ~Hide() { l->hide(); }
    } hide{lbProcess};
    report_->GeneratePreview(Choices());
  });
}

void TdlgPrintPort::ShowPage() {
  const int n = PP->PageNumber(), m = PP->PageCount();
  lbPage->setText(QStringLiteral("Page %1 of %2").arg(n).arg(m));
  pbRight->setEnabled(n < m);
  pbLeft->setEnabled(n > 1);
}

void TdlgPrintPort::ShowZoom() { lbZoom->setText(QStringLiteral("Zoom = %1%").arg(PP->ZoomPercent())); }

void TdlgPrintPort::ChoiceChanged() { pbPreview->setEnabled(true); }

void TdlgPrintPort::pbSelAllClick() {
  for (int i = 0; i < lbPorts->count(); ++i) lbPorts->item(i)->setCheckState(Qt::Checked);
  ChoiceChanged();
}

void TdlgPrintPort::pbClearAllClick() {
  for (int i = 0; i < lbPorts->count(); ++i) lbPorts->item(i)->setCheckState(Qt::Unchecked);
  ChoiceChanged();
}

void TdlgPrintPort::cmbViewsClick() {
  const std::string previous = cmbSortCol->currentText().toStdString();
  FillSortList();
  SelectSortTitle(previous);
  ChoiceChanged();
}

void TdlgPrintPort::pbPreviewClick() {
  GeneratePreview();
  pbPreview->setEnabled(false);
}

void TdlgPrintPort::pbPrintSetupClick() {
  if (busy_) return;
  QPrinter& printer = PP->Printer();
  bool accepted;
  if (NoPrinterInstalled()) {
    QPageSetupDialog dlg(&printer, this);
    accepted = dlg.exec() == QDialog::Accepted;
  } else {
    QPrintDialog dlg(&printer, this);
    dlg.setOption(QAbstractPrintDialog::PrintPageRange, true);
    dlg.setOption(QAbstractPrintDialog::PrintCollateCopies, true);
    accepted = dlg.exec() == QDialog::Accepted;
    if (accepted) {
      PP->SetCopies(printer.copyCount());
      PP->Collate = printer.collateCopies();
      const bool range = printer.printRange() == QPrinter::PageRange;
      PP->SetFirstPage(0);
      PP->SetLastPage(range ? printer.toPage() : 0);
      PP->SetFirstPage(range ? printer.fromPage() : 0);
    }
  }
  if (!accepted) return;
  PP->RefreshMetrics();
  GeneratePreview();
  pbPreview->setEnabled(false);
  // Back in the dialog, as on every activation: a page turned to landscape is fitted anew.
  pbBestFitClick();
}

void TdlgPrintPort::pbPrintItClick() {
  if (busy_) return;
  lbPrinting->show();
  const QString generating = lbProcess->text();
  lbProcess->setText(QStringLiteral("Generating Print Page(s)"));
  const bool made = GeneratePreview();
  pbPreview->setEnabled(false);
  lbProcess->setText(generating);
  // Pages cut short by a cancel or an error are never offered for saving or printing.
  if (!made) {
    lbPrinting->hide();
    return;
  }
  RunGuarded("PRINT", [this] {
    QPrinter& printer = PP->Printer();
    if (NoPrinterInstalled() || printer.outputFormat() == QPrinter::PdfFormat) {
      // No printer (or the set-up chose a file): the pages go to a PDF file the user names.
      std::string suggested = printer.outputFileName().toStdString();
      if (suggested.empty()) suggested = ProgDir + "portfolios.pdf";
      std::string name = AskPdfFileName ? AskPdfFileName(suggested) : std::string();
      if (name.empty()) return;
      if (!QString::fromStdString(name).endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
        name += ".pdf";
        // Whoever asked for the name asked about it as typed, not about this file.
        if (QFileInfo::exists(QString::fromStdString(name)) && !(ConfirmReplace && ConfirmReplace(name))) return;
      }
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(QString::fromStdString(name));
    }
    PP->PrintPages();
  });
  lbPrinting->hide();
}

void TdlgPrintPort::pbEditViewsClick() {
  if (busy_) return;
  try {
    const std::string previous = cmbViews->currentText().toStdString();
    LoadViews();
    RunPreferences(this, PrefsTabViews);
    ApplyLiveView();
    cmbViews->clear();
    for (int i = 0; i < ViewNames.Count(); ++i) cmbViews->addItem(QString::fromStdString(ViewNames[i]));
    cmbViews->model()->sort(0);
    const int at = cmbViews->findText(QString::fromStdString(previous), Qt::MatchFixedString);
    cmbViews->setCurrentIndex(std::max(0, at));
    if (QuitRequested.load()) {
      close();
      return;
    }
    const std::string sort = cmbSortCol->currentText().toStdString();
    FillSortList();
    SelectSortTitle(sort);
  } catch (const std::exception& e) {
    ShowErrorReport(e.what(), "EDITVIEWS");
    return;
  }
  ChoiceChanged();
  GeneratePreview();
  pbPreview->setEnabled(false);
}

void TdlgPrintPort::pbBestFitClick() {
  PP->ZoomToFit();
  ShowZoom();
  ZoomBarChange(-1);
}

void TdlgPrintPort::pbUDfitClick() {
  PP->ZoomToHeight();
  ZoomBarChange(-1);
}

void TdlgPrintPort::pbRLfitClick() {
  PP->ZoomToWidth();
  ZoomBarChange(-1);
}

// position -1: a fit changed the zoom; clamp it and move the bar to it.
void TdlgPrintPort::ZoomBarChange(int position) {
  if (position < 0) {
    PP->SetZoomPercent(std::clamp(PP->ZoomPercent(), 10, 400));
    const QSignalBlocker block(ZoomBar);
    ZoomBar->setValue(static_cast<int>(std::lround(PP->ZoomPercent() / 10.0)));
  } else if (position * 10 != PP->ZoomPercent()) {
    PP->SetZoomPercent(position * 10);
  }
  ShowZoom();
}

void TdlgPrintPort::pbLeftClick() {
  if (PP->PageNumber() > 1) PP->SetPageNumber(PP->PageNumber() - 1);
  ShowPage();
}

void TdlgPrintPort::pbRightClick() {
  if (PP->PageNumber() < PP->PageCount()) PP->SetPageNumber(PP->PageNumber() + 1);
  ShowPage();
}

void TdlgPrintPort::pbDetailedClick() {
  detailed_ = !detailed_;
  LayOutMode();
}

void TdlgPrintPort::LayOutMode() {
  setUpdatesEnabled(false);
  detailedBox_->setVisible(detailed_);
  pbBasic->setVisible(detailed_);
  pbDetailed->setVisible(!detailed_);
  setUpdatesEnabled(true);
}

bool TdlgPrintPort::HandleKey(QKeyEvent* e) {
  const auto mods = e->modifiers();
  const bool ctrl = mods & Qt::ControlModifier, alt = mods & Qt::AltModifier;
  switch (e->key()) {
    case Qt::Key_A:
      if (!ctrl) return false;
      pbSelAllClick();
      return true;
    case Qt::Key_P:
      if (!ctrl) return false;
      pbPrintItClick();
      return true;
    case Qt::Key_D:
      if (!(ctrl || alt) || !pbDetailed->isVisible()) return false;
      pbDetailedClick();
      return true;
    case Qt::Key_B:
      if (!(ctrl || alt) || !pbBasic->isVisible()) return false;
      pbDetailedClick();
      return true;
    case Qt::Key_V:
      if (!alt) return false;
      cmbViews->setFocus();
      return true;
    case Qt::Key_R:
      if (!alt) return false;
      cmbSortCol->setFocus();
      return true;
    case Qt::Key_Right:
      if (!ctrl) return false;
      if (pbRight->isEnabled()) pbRightClick();
      return true;
    case Qt::Key_Left:
      if (!ctrl) return false;
      if (pbLeft->isEnabled()) pbLeftClick();
      return true;
    default:
      return false;
  }
}

bool TdlgPrintPort::eventFilter(QObject* watched, QEvent* e) {
  // The dialog sees its keys before its controls do (Ctrl+A in the list selects portfolios).
  if (e->type() == QEvent::KeyPress && watched->isWidgetType() && isAncestorOf(static_cast<QWidget*>(watched)) &&
      HandleKey(static_cast<QKeyEvent*>(e)))
    return true;
  return QDialog::eventFilter(watched, e);
}

void TdlgPrintPort::keyPressEvent(QKeyEvent* e) {
  if (HandleKey(e)) return;
  int key = e->key();
  HandleGlobalHotKey(key, e->modifiers());
  if (key != 0) QDialog::keyPressEvent(e);
}

void TdlgPrintPort::reject() { close(); }

void TdlgPrintPort::closeEvent(QCloseEvent* e) {
  if (busy_) {
    // The running preview or print ends first; the window closes after it.
    cancel_ = true;
    PP->RequestCancel();
    closePending_ = true;
    e->ignore();
    return;
  }
  SavePrintSettings(CurrentSettings());
  QDialog::closeEvent(e);
  done(QDialog::Rejected);
}

void OpenPrintDialog(QWidget* mainWindow) {
  TdlgPrintPort dlg(mainWindow);
  ++ModalDepth;  // boxes that would pop up meanwhile wait
  dlg.exec();
  --ModalDepth;
}
