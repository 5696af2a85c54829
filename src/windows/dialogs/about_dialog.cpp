#include "windows/dialogs/about_dialog.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QUrl>
#include <QVBoxLayout>

#include "core/branding.h"
#include "core/program_state.h"
#include "core/text_helpers.h"
#include "core/url_launch.h"
#include "windows/dialogs/quit_watch.h"
#include "windows/dialogs/system_info.h"

std::function<bool(const std::string&)> OpenMailAddress = [](const std::string& address) {
  return QDesktopServices::openUrl(QUrl(QString::fromStdString(address)));
};

TdlgABout::TdlgABout(QWidget* parent) : QDialog(parent) {
  Image1 = new QLabel(this);
  lbName = new QLabel(this);
  QFont big = lbName->font();
  big.setPointSizeF(big.pointSizeF() * 1.4);
  big.setBold(true);
  lbName->setFont(big);
  labVer = new QLabel(this);
  lbCopyright = new QLabel(this);
  Memo1 = new QPlainTextEdit(this);
  Memo1->setObjectName("Memo1");
  Memo1->setReadOnly(true);
  Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
  Memo1->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Memo1->setTabStopDistance(Memo1->fontMetrics().horizontalAdvance(QLatin1Char(' ')) * 28);  // past the longest padded name
  dfWebSite = new QLineEdit(this);
  dfWebSite->setReadOnly(true);
  dfWebSite->setToolTip("Double-click to open the web site");
  dfWebSite->installEventFilter(this);
  dfEmail = new QLineEdit(this);
  dfEmail->setReadOnly(true);
  dfEmail->setToolTip("Click to write an e-mail");
  dfEmail->installEventFilter(this);
  pbOK = new QPushButton("OK", this);
  pbOK->setDefault(true);

  auto* v = new QVBoxLayout(this);
  auto* top = new QHBoxLayout;
  top->addWidget(Image1, 0, Qt::AlignTop);
  auto* names = new QVBoxLayout;
  names->addWidget(lbName);
  names->addWidget(labVer);
  names->addWidget(lbCopyright);
  top->addLayout(names, 1);
  v->addLayout(top);
  v->addWidget(Memo1, 1);
  auto* links = new QGridLayout;
  links->addWidget(new QLabel("Web site:", this), 0, 0);
  links->addWidget(dfWebSite, 0, 1);
  links->addWidget(new QLabel("E-mail:", this), 1, 0);
  links->addWidget(dfEmail, 1, 1);
  v->addLayout(links);
  v->addWidget(pbOK, 0, Qt::AlignRight);
  connect(pbOK, &QPushButton::clicked, this, &QDialog::accept);
  resize(600, 480);
  CloseOnQuit(this);
}

void TdlgABout::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();  // not again when the window manager shows it back
}

void TdlgABout::FormShow() {
  QIcon icon = QApplication::windowIcon();
  if (icon.isNull()) icon = style()->standardIcon(QStyle::SP_ComputerIcon);
  Image1->setPixmap(icon.pixmap(48, 48));
  labVer->setText(QString::fromStdString("Version " + VersionText(ProgVersion)));
  lbName->setText(QString::fromStdString(Branding.ProgFullName));
  lbCopyright->setText(QString::fromStdString(Branding.Copyright));
  setWindowTitle(QString::fromStdString("About " + Branding.ProgFullName));
  dfWebSite->setText(QString::fromStdString(Branding.CompURL));
  dfEmail->setText(QString::fromStdString(Branding.SupportEmail));
  QStringList lines;
  for (const std::string& line : AboutMemoLines(GatherSystemFacts())) lines << QString::fromStdString(line);
  Memo1->setPlainText(lines.join('\n'));
}

void TdlgABout::Edit1DblClick() {
  const std::string url = Trim(dfWebSite->text().toStdString());
  if (!url.empty()) OpenURL(url);
}

void TdlgABout::dfEmailClick() {
  const std::string address = Trim(dfEmail->text().toStdString());
  if (address.empty()) return;
  QApplication::setOverrideCursor(Qt::BusyCursor);
  OpenMailAddress("mailto:" + address);
  QApplication::restoreOverrideCursor();
}

bool TdlgABout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == dfWebSite && event->type() == QEvent::MouseButtonDblClick) {
    Edit1DblClick();
    return true;
  }
  if (watched == dfEmail && event->type() == QEvent::MouseButtonRelease) {
    dfEmailClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}
