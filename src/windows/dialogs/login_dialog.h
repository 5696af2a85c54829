#pragma once
// The site login dialog: name and password of a quote site that refused the request.
#include <QDialog>

#include <memory>
#include <string>

#include "core/sites.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// The name the dialog calls the site by: its short name, else its name cut before the first
// "(" and trimmed.
std::string LoginDisplayName(const HTTPSite& site, const std::string& shortName);

class TdlgPass : public QDialog {
public:
  // site: the site asked about (the current site); settingsSection: its definition file name.
  TdlgPass(std::shared_ptr<HTTPSite> site, std::string settingsSection, QWidget* parent = nullptr);
  ~TdlgPass() override;

  QLabel* Label1 = nullptr;
  QLabel* lbName = nullptr;
  QLineEdit* dfName = nullptr;
  QLabel* lbPass = nullptr;
  QLineEdit* dfPass = nullptr;
  QCheckBox* cbSave = nullptr;
  QLabel* Label2 = nullptr;
  QPushButton* pbLink = nullptr;
  QPushButton* pbOK = nullptr;
  QPushButton* pbCancel = nullptr;
  QTimer* Timer1 = nullptr;

  void FormShow();
  void pbOKClick();
  void pbCancelClick();
  void LinkLabelClick();
  void Timer1Timer();

  // The address the register button opens: the site's, else the "SITEHELPURL" parameter,
  // else "sites.htm" on the program's web site.
  std::string RegisterAddress() const;

protected:
  void showEvent(QShowEvent* event) override;

private:
  std::shared_ptr<HTTPSite> site_;
  std::string section_;
};

// Shows the login dialog for the current site modally; false (and a log line) when no site is
// current or the user cancelled.
bool ShowSiteLoginDialog(QWidget* parent);
