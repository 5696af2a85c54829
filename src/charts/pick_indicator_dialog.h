#pragma once
// The indicator picker: five price-chart indicators and one bottom indicator, each with up to
// three parameters, handed over through the exchange values below.
#include <QDialog>

#include <array>
#include <initializer_list>
#include <string>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QRadioButton;

// Exchange values, [1..6]: slots 1-5 price chart, 6 bottom chart.
extern bool PickIndOn;
extern bool PickAllowVolume;
extern std::array<std::string, 7> PickIndName;
extern std::array<std::array<double, 7>, 3> PickIndParam;
extern std::array<int, 6> PickCheckTarget;  // [1..5]: tag of the field holding the box's state

class TdlgPickInd : public QDialog {
public:
  explicit TdlgPickInd(QWidget* parent = nullptr);

  void FormShow();
  void FormClose();
  // Shows the slot's fields for its type, correcting the shown ones (validate) as if left.
  void cmbTypeClick(int slot) { ApplyType(slot, true); }
  void ApplyType(int slot, bool validate);
  void Edit1Change(QLineEdit* field);
  void CheckBox1Click(int tag);
  void VisLabels(std::initializer_list<int> tags, bool visible);
  void SetCaption(int tag, const QString& text);
  void SetCBCaption(int tag, const QString& text);
  void VisCheckBoxes(std::initializer_list<int> tags, int labelTag, bool visible);

  // Controls by tag: type boxes [1..6]; fields [1..6], [11..16], [21..26]; caption labels of
  // slots 1-5 by the same tags; check boxes [1..5].
  std::array<QComboBox*, 7> TypeBox{};
  std::array<QLineEdit*, 27> Field{};
  std::array<QLabel*, 26> Caption{};
  std::array<QLabel*, 3> BotIndPar{};
  std::array<QCheckBox*, 6> CheckBox{};
  std::array<QFrame*, 7> Swatch{};  // [1..5] price slots, [6] and [0] the two bottom ones
  QComboBox* cmbType = nullptr;
  QComboBox* cmbBottom = nullptr;
  QRadioButton* rbShow = nullptr;
  QRadioButton* rbHide = nullptr;

  // OK, Cancel and the close box all store the exchange values (FormClose).
  void done(int r) override;

protected:
  void showEvent(QShowEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;

private:
  int TagOf(QLineEdit* field) const;
  QString TypeOfSlot(int slot) const;
  bool shown_ = false;
};
