#include "windows/browser/browser_nav_bar.h"

#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPrintDialog>
#include <QPrinter>
#include <QPushButton>

#include <memory>

TBrowserNavBar::TBrowserNavBar(QWidget* parent) : QWidget(parent) {
  auto* row = new QHBoxLayout(this);
  row->setContentsMargins(2, 2, 2, 2);
  row->setSpacing(2);
  auto button = [&](const char* text, const char* hint) {
    auto* b = new QPushButton(QString::fromUtf8(text), this);
    b->setToolTip(QString::fromUtf8(hint));
    b->setAutoDefault(false);
    // As wide as the text: the bar must fit small windows beside a long address.
    b->setMaximumWidth(b->fontMetrics().horizontalAdvance(b->text().remove('&')) + 20);
    row->addWidget(b);
    return b;
  };
  pbNavLeft = button("\u25C0", "Back");
  pbNavRight = button("\u25B6", "Forward");
  pbNavStop = button("Stop", "Stop loading");
  pbNavHome = button("Home", "Home page");
  pbPrint = button("Print", "Print the page");
  pbFind = button("Find", "Find text on the page");
  lbAddress = new QLabel("Address:", this);
  row->addWidget(lbAddress);
  dfAddress = new QLineEdit(this);
  row->addWidget(dfAddress, 1);
  pbGo = button("&Go", "Go to the address");
  pbGo->setDefault(true);
  for (QPushButton* b : {pbNavLeft, pbNavRight, pbNavStop, pbPrint, pbFind}) b->setEnabled(false);

  connect(pbNavLeft, &QPushButton::clicked, this, [this] { pbNavLeftClick(); });
  connect(pbNavRight, &QPushButton::clicked, this, [this] { pbNavRightClick(); });
  connect(pbNavStop, &QPushButton::clicked, this, [this] { pbNavStopClick(); });
  connect(pbNavHome, &QPushButton::clicked, this, [this] { pbNavHomeClick(); });
  connect(pbGo, &QPushButton::clicked, this, [this] { pbGoClick(); });
  connect(dfAddress, &QLineEdit::returnPressed, this, [this] {
    if (!dfAddress->isReadOnly()) pbGoClick();
  });
  connect(pbPrint, &QPushButton::clicked, this, [this] { pbPrintClick(); });
  connect(pbFind, &QPushButton::clicked, this, [this] { pbFindClick(); });

  ChoosePrinter = [](QWidget* parent, QPrinter& printer) {
    QPrintDialog dialog(&printer, parent);
    return dialog.exec() == QDialog::Accepted;
  };
  AskFindText = [](QWidget* parent, std::string& text) {
    bool ok = false;
    const QString t = QInputDialog::getText(parent, "Find", "Find what:", QLineEdit::Normal,
                                            QString::fromStdString(text), &ok);
    if (ok) text = t.toStdString();
    return ok && !t.isEmpty();
  };
  Notice = [this](const std::string& text) {
    QMessageBox::information(window(), window()->windowTitle(), QString::fromStdString(text));
  };
}

void TBrowserNavBar::Attach(BrowserControl* browser) {
  browser_ = browser;
  if (browser_) {
    browser_->OnCommandStateChange = [this](int command, bool enable) { CommandStateChange(command, enable); };
  }
  RefreshState();
}

void TBrowserNavBar::SetReadOnlyAddress(bool readOnly) {
  dfAddress->setReadOnly(readOnly);
  pbNavHome->setVisible(!readOnly);
  pbGo->setVisible(!readOnly);
}

void TBrowserNavBar::pbNavLeftClick() {
  if (browser_) browser_->GoBack();
}

void TBrowserNavBar::pbNavRightClick() {
  if (browser_) browser_->GoForward();
}

void TBrowserNavBar::pbNavStopClick() {
  if (browser_) browser_->Stop();
}

void TBrowserNavBar::pbNavHomeClick() {
  if (browser_) browser_->GoHome();
}

void TBrowserNavBar::pbGoClick() {
  const std::string url = dfAddress->text().trimmed().toStdString();
  if (url.empty() || !browser_) return;
  pbNavStop->setEnabled(true);
  browser_->Navigate(url, true);
}

void TBrowserNavBar::pbPrintClick() {
  if (!browser_ || !browser_->HasDocument()) return;
  auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
  if (!ChoosePrinter || !ChoosePrinter(window(), *printer)) return;
  QPointer<TBrowserNavBar> self(this);
  auto done = [printer, self](bool ok) {
    if (!ok && self && self->Notice) self->Notice("The page could not be printed.");
  };
  // A PDF file comes from the engine itself, with the page's text; printing through the
  // printer would give pictures of the pages.
  if (printer->outputFormat() == QPrinter::PdfFormat && !printer->outputFileName().isEmpty()) {
    const QPageLayout layout = printer->pageLayout();
    browser_->PrintToPdf(printer->outputFileName().toStdString(), done, &layout);
    return;
  }
  browser_->Print(printer.get(), done);
}

void TBrowserNavBar::pbFindClick() {
  if (!browser_ || !browser_->HasDocument() || !AskFindText) return;
  std::string text = lastFind_;
  if (!AskFindText(window(), text) || text.empty()) return;
  lastFind_ = text;
  QPointer<TBrowserNavBar> self(this);
  browser_->Find(text, false, [self, text](bool found) {
    if (!found && self && self->Notice) self->Notice("\"" + text + "\" was not found.");
  });
}

void TBrowserNavBar::CommandStateChange(int command, bool enable) {
  if (command == BrowserControl::CommandForward) pbNavRight->setEnabled(enable);
  else if (command == BrowserControl::CommandBack) pbNavLeft->setEnabled(enable);
  if (browser_) pbNavStop->setEnabled(browser_->Busy());
}

void TBrowserNavBar::RefreshState() {
  const bool busy = browser_ && browser_->Busy();
  if (pbNavStop->isEnabled() != busy) pbNavStop->setEnabled(busy);
  const bool doc = browser_ && browser_->HasDocument();
  pbPrint->setEnabled(doc);
  pbFind->setEnabled(doc);
  if (!browser_) {
    pbNavLeft->setEnabled(false);
    pbNavRight->setEnabled(false);
  }
}
