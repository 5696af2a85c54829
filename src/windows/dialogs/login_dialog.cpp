#include "windows/dialogs/login_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

#include "core/branding.h"
#include "core/log.h"
#include "core/program_state.h"
#include "core/url_launch.h"
#include "retrieval/site_files.h"
#include "windows/dialogs/quit_watch.h"

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }
}  // namespace

std::string LoginDisplayName(const HTTPSite& site, const std::string& shortName) {
  if (!shortName.empty()) return shortName;
  return Trim(site.Name.substr(0, site.Name.find('(')));
}

TdlgPass::TdlgPass(std::shared_ptr<HTTPSite> site, std::string settingsSection, QWidget* parent)
    : QDialog(parent), site_(std::move(site)), section_(std::move(settingsSection)) {
  // FormCreate
  PassDlgExists = true;
  setWindowTitle("Name and password required for access");
  setWindowFlags(windowFlags() | Qt::MSWindowsFixedSizeDialogHint);
  Label1 = new QLabel("This site requires a name and password authorization.", this);
  Label1->setWordWrap(true);
  lbName = new QLabel(Q(site_ && !site_->LoginNameCaption.empty() ? site_->LoginNameCaption : "Name"), this);
  dfName = new QLineEdit(this);
  dfName->setObjectName("dfName");
  lbPass = new QLabel(Q(site_ && !site_->PasswordCaption.empty() ? site_->PasswordCaption : "Password"), this);
  dfPass = new QLineEdit(this);
  dfPass->setObjectName("dfPass");
  dfPass->setEchoMode(QLineEdit::Password);
  dfPass->show();
  cbSave = new QCheckBox("Save Password", this);
  Label2 = new QLabel(this);
  Label2->setWordWrap(true);
  pbLink = new QPushButton(this);
  // The site's name and captions come from its definition file: shown as plain text, never as
  // markup or links.
  for (QLabel* l : {Label1, lbName, lbPass, Label2}) l->setTextFormat(Qt::PlainText);
  pbOK = new QPushButton("OK", this);
  pbOK->setDefault(true);
  pbCancel = new QPushButton("Cancel", this);

  auto* v = new QVBoxLayout(this);
  v->addWidget(Label1);
  auto* grid = new QGridLayout;
  grid->addWidget(lbName, 0, 0);
  grid->addWidget(dfName, 0, 1);
  grid->addWidget(lbPass, 1, 0);
  grid->addWidget(dfPass, 1, 1);
  grid->addWidget(cbSave, 2, 1);
  v->addLayout(grid);
  v->addWidget(Label2);
  v->addWidget(pbLink, 0, Qt::AlignLeft);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(pbOK);
  buttons->addWidget(pbCancel);
  v->addLayout(buttons);
  setMinimumWidth(420);

  connect(pbOK, &QPushButton::clicked, this, [this] { pbOKClick(); });
  connect(pbCancel, &QPushButton::clicked, this, [this] { pbCancelClick(); });
  connect(pbLink, &QPushButton::clicked, this, [this] { LinkLabelClick(); });
  Timer1 = new QTimer(this);
  connect(Timer1, &QTimer::timeout, this, [this] { Timer1Timer(); });
  Timer1->start(1000);
  CloseOnQuit(this);
}

TdlgPass::~TdlgPass() { PassDlgExists = false; }

void TdlgPass::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();  // not again when the window manager shows it back
}

void TdlgPass::FormShow() {
  if (!site_) return;
  std::string shortName;
  if (site_ == CurSite) GetSiteShortName(shortName);
  else shortName = site_->ShortName;
  const std::string name = LoginDisplayName(*site_, shortName);
  Label1->setText(Q(name + " requires you to login in order to get quote data."));
  Label2->setText(Q("If you already have login information for " + name + ", please " +
                    "enter it below. Otherwise, you have to go and register at " + name + "."));
  pbLink->setText(Q("Go register at " + name).replace('&', "&&"));  // no mnemonic from the name
  dfName->setText(Q(site_->StoredLogin));
  dfPass->setText(Q(site_->StoredPassword));
  cbSave->setChecked(site_->SavePassword);
}

void TdlgPass::pbOKClick() {
  if (site_) {
    site_->EnteredLogin = S(dfName->text());
    site_->EnteredPassword = S(dfPass->text());
    site_->SavePassword = cbSave->isChecked();
    SaveSiteSettings(section_, *site_);
  }
  accept();
}

void TdlgPass::pbCancelClick() { reject(); }

std::string TdlgPass::RegisterAddress() const {
  if (site_ && !Trim(site_->RegisterUrl).empty()) return Trim(site_->RegisterUrl);
  const std::string help = Trim(ParamValue(ParamList, "SITEHELPURL", ""));
  if (!help.empty()) return help;
  std::string base = Branding.CompURL;
  if (!base.empty() && base.back() != '/') base += '/';
  return base + "sites.htm";
}

void TdlgPass::LinkLabelClick() {
  QApplication::setOverrideCursor(Qt::WaitCursor);
  OpenURL(RegisterAddress());
  QApplication::restoreOverrideCursor();
}

void TdlgPass::Timer1Timer() {
  // To the front of the program's windows, and only while the program has the keyboard: it never
  // takes the keyboard from another program the user typed in, nor comes over its windows.
  if (!QApplication::activeWindow()) return;
  raise();
}

bool ShowSiteLoginDialog(QWidget* parent) {
  std::shared_ptr<HTTPSite> site = CurSite;
  if (!site) {
    WriteLog("Login asked for, but no quote site is current");
    return false;
  }
  TdlgPass dlg(site, SiteFile, parent);
  ++ModalDepth;
  const int result = dlg.exec();
  --ModalDepth;
  return result == QDialog::Accepted;
}
