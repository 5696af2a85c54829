#include "windows/dialogs/survey_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

#include <filesystem>

#include "core/branding.h"
#include "core/log.h"
#include "core/market_clock.h"
#include "core/program_state.h"
#include "retrieval/fund_thread.h"
#include "retrieval/param_files.h"
#include "platform/registry.h"
#include "windows/dialogs/dialog_fetch.h"
#include "windows/dialogs/dialog_messages.h"
#include "windows/dialogs/quit_watch.h"

int TdlgSurvey::ThanksMs = 1000;

namespace {
QString Q(const std::string& s) { return QString::fromStdString(s); }

void Fill(QComboBox* box, const std::vector<std::string>& items) {
  box->clear();
  for (const std::string& item : items) box->addItem(Q(item));
  if (box->count() > 0) box->setCurrentIndex(0);
}

constexpr int CheckTags[] = {11, 12, 21, 22, 31, 32, 33};
constexpr const char* CheckTexts[] = {"Yes", "No", "Yes", "No", "Work", "Home", "School"};
}  // namespace

TdlgSurvey::TdlgSurvey(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Demographic Survey");
  auto* content = new QWidget;
  auto* v = new QVBoxLayout(content);
  Memo1 = new QPlainTextEdit(content);
  Memo1->setReadOnly(true);
  Memo1->setMaximumHeight(70);
  v->addWidget(Memo1);

  auto* form = new QFormLayout;
  auto combo = [content] { return new QComboBox(content); };
  cmbGender = combo();
  cmbAge = combo();
  cmbCountry = combo();
  cmbStatus = combo();
  cmbHSize = combo();
  cmbEducation = combo();
  cmbIncome = combo();
  cmbOccupation = combo();
  cmbCSize = combo();
  cmbHow = combo();
  coded_ = {cmbGender, cmbAge, cmbStatus, cmbHSize, cmbEducation, cmbIncome, cmbOccupation, cmbCSize, cmbHow};
  dfZip = new QLineEdit(content);
  dfZip->setMaxLength(20);
  form->addRow("Gender:", cmbGender);
  form->addRow("Age group:", cmbAge);
  form->addRow("Country:", cmbCountry);
  form->addRow("Zip or postal code:", dfZip);
  form->addRow("Marital status:", cmbStatus);
  form->addRow("Household size:", cmbHSize);
  form->addRow("Education:", cmbEducation);
  form->addRow("Household income:", cmbIncome);
  form->addRow("Job function:", cmbOccupation);
  form->addRow("Company size:", cmbCSize);
  form->addRow("How did you find us:", cmbHow);
  v->addLayout(form);

  lbBrokers = new QListWidget(content);
  lbBrokers->setMaximumHeight(90);
  auto* brokers = new QGroupBox("Brokers you use:", content);
  (new QVBoxLayout(brokers))->addWidget(lbBrokers);
  v->addWidget(brokers);

  auto* ratings = new QGroupBox("How useful do you find (5 is best):", content);
  auto* rg = new QFormLayout(ratings);
  const char* rated[] = {"The quotes:", "The charts:", "The news:"};
  for (int i = 0; i < 3; ++i) {
    Ratings[static_cast<size_t>(i)] = combo();
    Ratings[static_cast<size_t>(i)]->setProperty("tag", i + 1);
    Ratings[static_cast<size_t>(i)]->addItems({"---", "1", "2", "3", "4", "5"});
    rg->addRow(rated[i], Ratings[static_cast<size_t>(i)]);
  }
  v->addWidget(ratings);

  auto* checks = new QGroupBox(content);
  auto* cg = new QGridLayout(checks);
  const char* groups[] = {"Do you trade online?", "Do you own stocks?", "Where do you use the program?"};
  for (int g = 0; g < 3; ++g) cg->addWidget(new QLabel(groups[g], checks), g, 0);
  for (size_t i = 0; i < std::size(CheckTags); ++i) {
    auto* box = new QCheckBox(CheckTexts[i], checks);
    box->setProperty("tag", CheckTags[i]);
    Checks.push_back(box);
    cg->addWidget(box, CheckTags[i] / 10 - 1, CheckTags[i] % 10);
    connect(box, &QCheckBox::clicked, this, [this, box] { CheckBox1Click(box); });
  }
  v->addWidget(checks);

  panThanks = new QLabel("Thank You!", this);
  panThanks->setAlignment(Qt::AlignCenter);
  QFont big = panThanks->font();
  big.setPointSizeF(big.pointSizeF() * 2);
  big.setBold(true);
  panThanks->setFont(big);
  panThanks->setStyleSheet("QLabel { background: #fff8d0; border: 2px solid #806000; }");
  panThanks->hide();

  scroll_ = new QScrollArea(this);
  scroll_->setWidget(content);
  scroll_->setWidgetResizable(true);
  scroll_->setFrameShape(QFrame::NoFrame);
  pbSend = new QPushButton("Send", this);
  pbSend->setDefault(true);
  pbCancel = new QPushButton("Do Not Send", this);
  pbRemind = new QPushButton("Remind to do later", this);
  auto* outer = new QVBoxLayout(this);
  outer->addWidget(scroll_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(pbRemind);
  buttons->addStretch(1);
  buttons->addWidget(pbSend);
  buttons->addWidget(pbCancel);
  outer->addLayout(buttons);
  connect(pbSend, &QPushButton::clicked, this, [this] { pbSendClick(); });
  connect(pbCancel, &QPushButton::clicked, this, [this] { pbCancelClick(); });
  connect(pbRemind, &QPushButton::clicked, this, [this] { pbRemindClick(); });
  resize(520, content->sizeHint().height() + 70);
  FormCreate();
  CloseOnQuit(this);
}

void TdlgSurvey::FormCreate() {
  designWidth_ = width();
  designHeight_ = height();
}

void TdlgSurvey::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (!event->spontaneous()) FormShow();
}

void TdlgSurvey::FormShow() {
  StringList params;
  ReadParamsFile("survey.par", params);
  lists_ = ReadSurveyLists(params);
  Memo1->setPlainText(Q(lists_.Message));
  Memo1->setVisible(!lists_.Message.empty());
  Fill(cmbCountry, lists_.Countries);
  const int us = cmbCountry->findText("United States");
  if (us >= 0) cmbCountry->setCurrentIndex(us);
  for (int q = 0; q < SurveyCodedCount; ++q) Fill(coded_[static_cast<size_t>(q)], lists_.Names[static_cast<size_t>(q)]);
  lbBrokers->clear();
  for (const std::string& name : lists_.BrokerNames) {
    auto* item = new QListWidgetItem(Q(name), lbBrokers);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
  }
}

void TdlgSurvey::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  FormResize();
}

void TdlgSurvey::FormResize() {
  if (designHeight_ == 0 || scrollNoted_) return;
  if (height() < designHeight_ && width() == designWidth_) {
    scrollNoted_ = true;
    Memo1->setPlainText(Memo1->toPlainText() + " (Scroll the form to get to the bottom).");
    Memo1->show();
    resize(width() + 25, height());
  }
}

QCheckBox* TdlgSurvey::CheckWithTag(int tag) const {
  for (QCheckBox* box : Checks)
    if (box->property("tag").toInt() == tag) return box;
  return nullptr;
}

void TdlgSurvey::CheckBox1Click(QCheckBox* box) {
  if (!box->isChecked()) return;
  const int group = box->property("tag").toInt() / 10;
  for (QCheckBox* other : Checks)
    if (other != box && other->property("tag").toInt() / 10 == group) other->setChecked(false);
}

SurveyAnswers TdlgSurvey::Answers() const {
  SurveyAnswers a;
  a.Country = cmbCountry->currentText().toStdString();
  for (int q = 0; q < SurveyCodedCount; ++q) a.Chosen[static_cast<size_t>(q)] = coded_[static_cast<size_t>(q)]->currentIndex();
  for (int i = 0; i < lbBrokers->count(); ++i) a.Brokers.push_back(lbBrokers->item(i)->checkState() == Qt::Checked);
  a.Zip = dfZip->text().toStdString();
  for (QCheckBox* box : Checks) a.Checks.emplace_back(box->property("tag").toInt(), box->isChecked());
  for (QComboBox* box : Ratings) a.Ratings.emplace_back(box->property("tag").toInt(), box->currentIndex());
  return a;
}

void TdlgSurvey::pbSendClick() {
  panThanks->setGeometry(width() / 2 - 120, height() / 2 - 40, 240, 80);
  panThanks->show();
  panThanks->raise();
  RegistryStore& reg = RegistryStore::CurrentUser();
  reg.WriteString(RegKeyPath, "SURV", BuildSurveyQuery(lists_, Answers()));
  reg.WriteString(RegKeyPath, "SDAT", "-");
  panThanks->repaint();
  WaitAndPump(ThanksMs);
  // The fundamentals thread sends it on its next pass.
  SurveyCheckTime = MarketNow() - 3.0 / 86400;
  accept();
}

void TdlgSurvey::pbCancelClick() { reject(); }

void TdlgSurvey::pbRemindClick() {
  RegistryStore::CurrentUser().WriteString(RegKeyPath, "SREMIND", RemindDayText(MarketNow() + 1));
  reject();
}

TdlgRemindSurvey::TdlgRemindSurvey(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Survey");
  auto* v = new QVBoxLayout(this);
  auto* ask = new QLabel(
      "In order to get a better idea of who our users are, we created a small survey questionnaire that we would "
      "like our users to answer. Would you like to do it now?",
      this);
  ask->setWordWrap(true);
  ask->setMinimumWidth(420);
  v->addWidget(ask);
  pbYes = new QPushButton("&Yes, I can fill out the survey now.", this);
  pbNo = new QPushButton("&No, I don't want to fill out the survey", this);
  pbLater = new QPushButton("&Remind me later to do it.", this);
  pbYes->setDefault(true);
  for (QPushButton* b : {pbYes, pbNo, pbLater}) v->addWidget(b);
  auto* where = new QLabel(
      "If you would like to answer survey questions at a later time, you can find them in the menu under Help/Survey.",
      this);
  where->setWordWrap(true);
  v->addWidget(where);
  connect(pbYes, &QPushButton::clicked, this, [this] { done(ResultYes); });
  connect(pbNo, &QPushButton::clicked, this, [this] {
    DialogMessage(this, "If you change your mind later, you can always reach the survey through the Help menu option.",
                  "Thank you");
    done(ResultNo);
  });
  connect(pbLater, &QPushButton::clicked, this, [this] { done(ResultLater); });
  CloseOnQuit(this);
}

void OpenSurveyDialog(QWidget* parent) {
  TdlgSurvey dlg(parent);
  ++ModalDepth;
  dlg.exec();
  --ModalDepth;
}

void SurveyReminderStep(QWidget* parent) {
  RegistryStore& reg = RegistryStore::CurrentUser();
  const TDateTime today = MarketNow();
  const std::string remind = reg.ReadString(RegKeyPath, "SREMIND", "");
  const bool haveFile = !ProgFilePath("survey.par").empty() && std::filesystem::exists(ProgFilePath("survey.par"));
  if (haveFile && remind.empty() && reg.ReadString(RegKeyPath, "SURV", "").empty()) {
    // The first prompt comes a week after the survey arrived, not at the start that brought it.
    reg.WriteString(RegKeyPath, "SREMIND", RemindDayText(today + 7));
    return;
  }
  if (!SurveyReminderDue(haveFile, reg.ReadString(RegKeyPath, "SURV", ""), remind, today)) return;
  // Whatever the answer, the prompt does not come again today.
  reg.WriteString(RegKeyPath, "SREMIND", RemindDayText(today + 1));
  int result = 0;
  {
    TdlgRemindSurvey prompt(parent);
    ++ModalDepth;
    result = prompt.exec();
    --ModalDepth;
  }
  if (result == TdlgRemindSurvey::ResultNo) reg.WriteString(RegKeyPath, "SREMIND", std::to_string(SurveyNeverDay));
  else if (result == TdlgRemindSurvey::ResultYes && !ProgramQuitting()) OpenSurveyDialog(parent);
}

bool SendSurveyAnswer(const std::string& query) {
  const std::string url = Trim(ParamValue(ParamList, "SURVEYURL", ""));
  if (url.empty()) {
    WriteLog("No SURVEYURL in params.par: the survey answer stays unsent");
    return false;
  }
  const std::string full = url + (url.find('?') == std::string::npos ? "?" : "&") + query;
  const size_t pathAt = full.find('/', full.find("://") == std::string::npos ? 0 : full.find("://") + 3);
  const std::string host = pathAt == std::string::npos ? full : full.substr(0, pathAt);
  const std::string path = pathAt == std::string::npos ? "/" : full.substr(pathAt);
  std::string reply;
  return FetchDialogPage('S', "GET", host, path, "", "", nullptr, reply);
}
