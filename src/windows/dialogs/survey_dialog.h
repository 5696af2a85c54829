#pragma once
// The demographic survey and the prompt that offers it.
#include <QDialog>

#include <array>
#include <string>
#include <vector>

#include "windows/dialogs/survey_query.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QScrollArea;

class TdlgSurvey : public QDialog {
public:
  explicit TdlgSurvey(QWidget* parent = nullptr);

  QComboBox* cmbGender = nullptr;
  QComboBox* cmbAge = nullptr;
  QComboBox* cmbCountry = nullptr;
  QComboBox* cmbStatus = nullptr;
  QComboBox* cmbHSize = nullptr;
  QComboBox* cmbEducation = nullptr;
  QComboBox* cmbIncome = nullptr;
  QComboBox* cmbOccupation = nullptr;
  QComboBox* cmbCSize = nullptr;
  QComboBox* cmbHow = nullptr;
  QLineEdit* dfZip = nullptr;
  QListWidget* lbBrokers = nullptr;
  std::array<QComboBox*, 3> Ratings{};     // ComboBox1..ComboBox3, tags 1..3
  std::vector<QCheckBox*> Checks;          // tags 11, 12, 21, 22, 31, 32, 33
  QPlainTextEdit* Memo1 = nullptr;
  QLabel* panThanks = nullptr;
  QPushButton* pbSend = nullptr;
  QPushButton* pbCancel = nullptr;
  QPushButton* pbRemind = nullptr;

  void FormCreate();
  void FormShow();
  void FormResize();
  void CheckBox1Click(QCheckBox* box);
  void pbSendClick();
  void pbCancelClick();
  void pbRemindClick();

  // The answers as the form shows them.
  SurveyAnswers Answers() const;
  const SurveyLists& Lists() const { return lists_; }
  // The coded question boxes, in SurveyQuestion order.
  QComboBox* CodedBox(int question) const { return coded_[static_cast<size_t>(question)]; }
  // The check box with the tag (nullptr when none).
  QCheckBox* CheckWithTag(int tag) const;
  // How long Send shows its thanks (1 s; tests shorten it).
  static int ThanksMs;

protected:
  void showEvent(QShowEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

private:
  SurveyLists lists_;
  std::array<QComboBox*, SurveyCodedCount> coded_{};
  QScrollArea* scroll_ = nullptr;
  int designWidth_ = 0;
  int designHeight_ = 0;
  bool scrollNoted_ = false;
};

class TdlgRemindSurvey : public QDialog {
public:
  // The results, as the caller reads them.
  static constexpr int ResultYes = 1;
  static constexpr int ResultNo = 2;
  static constexpr int ResultLater = 4;

  explicit TdlgRemindSurvey(QWidget* parent = nullptr);

  QPushButton* pbYes = nullptr;
  QPushButton* pbNo = nullptr;
  QPushButton* pbLater = nullptr;
};

// Help/Survey: the survey dialog, modally.
void OpenSurveyDialog(QWidget* parent);
// The main window's housekeeping step: shows the prompt when it is due and acts on the answer.
void SurveyReminderStep(QWidget* parent);
// The fundamentals thread's send: the query to params.par "SURVEYURL"; true when delivered.
bool SendSurveyAnswer(const std::string& query);
