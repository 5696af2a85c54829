#include "charts/pick_indicator_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>

#include "charts/chart_params.h"
#include "core/button_form.h"
#include "core/settings.h"
#include "core/text_helpers.h"

bool PickIndOn = true;
bool PickAllowVolume = true;
std::array<std::string, 7> PickIndName;
std::array<std::array<double, 7>, 3> PickIndParam{};
std::array<int, 6> PickCheckTarget{};

namespace {

template <size_t N>
QStringList ItemList(const std::array<const char*, N>& names) {
  QStringList out;
  for (const char* n : names) out << QString::fromUtf8(n);
  return out;
}

const char* const ComboNames[] = {"", "cmbType", "ComboBox1", "ComboBox2", "ComboBox3", "ComboBox4", "cmbBottom"};
const char* const LabelNames[6][3] = {{},
                                      {"Label2", "Label3", "Label7"},
                                      {"Label9", "Label10", "Label11"},
                                      {"Label12", "Label15", "Label16"},
                                      {"Label13", "Label14", "Label17"},
                                      {"Label18", "Label19", "Label20"}};
const char* const SwatchNames[] = {"Panel6", "colVol", "Panel1", "Panel2", "Panel3", "Panel4", "Panel5"};

void SetSwatch(QFrame* f, TColor c) {
  QPalette pal = f->palette();
  pal.setColor(QPalette::Window, ToQColor(c));
  f->setPalette(pal);
  f->setAutoFillBackground(true);
}

}  // namespace

// Modal over its chart, and so above it, without covering other programs; centred on the
// screen rather than over the chart.
TdlgPickInd::TdlgPickInd(QWidget* parent) : QDialog(parent, Qt::Dialog) {
  setFixedSize(417, 274);
  auto bold = [this](const char* text, int x, int y) {
    auto* l = new QLabel(text, this);
    QFont f = l->font();
    f.setBold(true);
    l->setFont(f);
    l->move(x, y);
  };
  bold("Top Indicators", 8, 4);
  bold("Bottom Indicator", 8, 184);
  (new QLabel("Indicator Type", this))->move(8, 20);
  (new QLabel("Indicator Type", this))->move(8, 200);
  (new QLabel("Colors", this))->move(372, 20);
  const int colX[3] = {140, 220, 300};
  for (int slot = 1; slot <= 6; ++slot) {
    const int y = slot <= 5 ? 36 + (slot - 1) * 28 : 216;
    auto* box = new QComboBox(this);
    box->setObjectName(ComboNames[slot]);
    box->setGeometry(8, y, 120, 22);
    TypeBox[static_cast<size_t>(slot)] = box;
    QObject::connect(box, &QComboBox::activated, this, [this, slot](int) { cmbTypeClick(slot); });
    for (int row = 0; row < 3; ++row) {
      const int tag = slot + 10 * row;
      auto* e = new QLineEdit(this);
      const int number = row == 0 ? 2 * slot - 1 : row == 1 ? 2 * slot : 12 + slot;
      e->setObjectName(QString("Edit%1").arg(number));
      // A price chart slot shows only its first field (a level such as "0.00001" or "25 1/2"
      // needs the room); its hidden second caption is where "Adjust Scale" stands.
      const int topX[3] = {132, 248, 248};
      if (slot <= 5) e->setGeometry(topX[row] + 42, y, row == 0 ? 70 : 36, 22);
      else e->setGeometry(colX[row] + 40, y, 36, 22);
      Field[static_cast<size_t>(tag)] = e;
      QObject::connect(e, &QLineEdit::editingFinished, this, [this, e] { Edit1Change(e); });
      QLabel* l = new QLabel(this);
      if (slot <= 5) {
        l->setGeometry(topX[row], y + 3, 40, 16);
        l->setObjectName(LabelNames[slot][row]);
        Caption[static_cast<size_t>(tag)] = l;
      } else {
        // Over its field: "%K Slow" and "Smooth" do not fit beside it.
        l->setGeometry(colX[row] + 20, y - 16, 76, 16);
        l->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
        l->setObjectName(QString("BotIndPar%1").arg(row + 1));
        BotIndPar[static_cast<size_t>(row)] = l;
      }
    }
    if (slot <= 5) {
      auto* cb = new QCheckBox(this);
      cb->setObjectName(QString("CheckBox%1").arg(slot));
      cb->hide();
      CheckBox[static_cast<size_t>(slot)] = cb;
      QObject::connect(cb, &QCheckBox::clicked, this, [this, slot](bool) { CheckBox1Click(slot); });
    }
    auto* sw = new QFrame(this);
    sw->setObjectName(SwatchNames[slot]);
    sw->setFrameShape(QFrame::Box);
    sw->setGeometry(376, y + 3, 20, 16);
    Swatch[static_cast<size_t>(slot)] = sw;
  }
  auto* sw2 = new QFrame(this);
  sw2->setObjectName(SwatchNames[0]);
  sw2->setFrameShape(QFrame::Box);
  sw2->setGeometry(398, 219, 14, 16);
  Swatch[0] = sw2;
  cmbType = TypeBox[1];
  cmbBottom = TypeBox[6];
  rbShow = new QRadioButton("Show Indicators", this);
  rbShow->setObjectName("rbShow");
  rbShow->move(8, 246);
  rbHide = new QRadioButton("Hide Indicators", this);
  rbHide->setObjectName("rbHide");
  rbHide->move(130, 246);
  auto* ok = new QPushButton("&OK", this);
  ok->setObjectName("pbOK");
  ok->setGeometry(260, 244, 70, 24);
  ok->setDefault(true);
  auto* cancel = new QPushButton("&Cancel", this);
  cancel->setObjectName("Button1");
  cancel->setGeometry(338, 244, 70, 24);
  QObject::connect(ok, &QPushButton::clicked, this, &QDialog::accept);
  QObject::connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
}

void TdlgPickInd::showEvent(QShowEvent* e) {
  QDialog::showEvent(e);
  if (shown_) return;
  FormShow();
  // Before the window system shows it: Qt has just centred it over its parent.
  if (const QScreen* screen = parentWidget() ? parentWidget()->screen() : this->screen()) {
    QRect frame(QPoint(0, 0), size());
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
}

void TdlgPickInd::FormShow() {
  shown_ = true;
  (PickIndOn ? rbShow : rbHide)->setChecked(true);
  cmbType->clear();
  cmbType->addItems(ItemList(PriceIndicatorNames));
  cmbBottom->clear();
  QStringList bottom = ItemList(BottomIndicatorNames);
  if (!PickAllowVolume) bottom.removeFirst();
  cmbBottom->addItems(bottom);
  for (int slot = 1; slot <= 6; ++slot) {
    QComboBox* box = TypeBox[static_cast<size_t>(slot)];
    if (slot >= 2 && slot <= 5) {
      box->clear();
      box->addItems(ItemList(PriceIndicatorNames));
    }
    const int pos = box->findText(QString::fromStdString(PickIndName[static_cast<size_t>(slot)]));
    box->setCurrentIndex(pos >= 1 ? pos : 0);
    // As stored: a value the settings took (a period of 9.5 or 2000) is corrected only when the
    // user leaves its field.
    for (int row = 0; row < 3; ++row)
      Field[static_cast<size_t>(slot + 10 * row)]->setText(
          QString::fromStdString(PlainDecimal(PickIndParam[static_cast<size_t>(row)][static_cast<size_t>(slot)])));
    ApplyType(slot, false);
  }
  for (int k = 1; k <= 5; ++k) SetSwatch(Swatch[static_cast<size_t>(k)], LiveSettings.Ind[static_cast<size_t>(k - 1)]);
  SetSwatch(Swatch[6], LiveSettings.Ind[0]);
  SetSwatch(Swatch[0], LiveSettings.Ind[1]);
  for (int k = 1; k <= 5; ++k) {
    QCheckBox* cb = CheckBox[static_cast<size_t>(k)];
    const int target = PickCheckTarget[static_cast<size_t>(k)];
    if (!cb->isHidden() && target > 0 && target < 27) cb->setChecked(Field[static_cast<size_t>(target)]->text() == "1");
  }
}

int TdlgPickInd::TagOf(QLineEdit* field) const {
  for (size_t t = 0; t < Field.size(); ++t)
    if (Field[t] == field) return static_cast<int>(t);
  return 0;
}

QString TdlgPickInd::TypeOfSlot(int slot) const {
  return slot >= 1 && slot <= 6 ? TypeBox[static_cast<size_t>(slot)]->currentText() : QString();
}

void TdlgPickInd::Edit1Change(QLineEdit* field) {
  const int tag = TagOf(field);
  if (tag <= 0) return;
  const std::string type = TypeOfSlot(tag % 10).toStdString();
  const double v = CorrectIndParam(type, tag / 10, field->text().toStdString());
  field->setText(QString::fromStdString(IndParamText(type, v)));
}

void TdlgPickInd::VisLabels(std::initializer_list<int> tags, bool visible) {
  for (int t : tags)
    if (t > 0 && t < static_cast<int>(Caption.size()) && Caption[static_cast<size_t>(t)])
      Caption[static_cast<size_t>(t)]->setVisible(visible);
}

void TdlgPickInd::SetCaption(int tag, const QString& text) {
  if (tag > 0 && tag < static_cast<int>(Caption.size()) && Caption[static_cast<size_t>(tag)])
    Caption[static_cast<size_t>(tag)]->setText(text);
}

void TdlgPickInd::SetCBCaption(int tag, const QString& text) {
  if (tag >= 1 && tag <= 5) CheckBox[static_cast<size_t>(tag)]->setText(text);
}

void TdlgPickInd::VisCheckBoxes(std::initializer_list<int> tags, int labelTag, bool visible) {
  QLabel* label = labelTag > 0 && labelTag < static_cast<int>(Caption.size()) ? Caption[static_cast<size_t>(labelTag)] : nullptr;
  for (int t : tags) {
    if (t < 1 || t > 5) continue;
    QCheckBox* cb = CheckBox[static_cast<size_t>(t)];
    if (label) {
      cb->adjustSize();
      cb->move(label->x() + 3, label->y() + label->height() / 2 - cb->height() / 2);
    }
    PickCheckTarget[static_cast<size_t>(t)] = labelTag;
    cb->setVisible(visible);
  }
}

void TdlgPickInd::ApplyType(int t, bool validate) {
  const QString type = TypeOfSlot(t);
  auto field = [this, t](int row) { return Field[static_cast<size_t>(t + 10 * row)]; };
  auto show = [&](int row, bool visible, bool check) {
    if (validate && check) Edit1Change(field(row));
    field(row)->setVisible(visible);
  };
  auto bottomCaptions = [this](const char* a, const char* b, const char* c) {
    BotIndPar[0]->setText(a);
    BotIndPar[1]->setText(b);
    BotIndPar[2]->setText(c);
  };
  if (type == "MACD") {
    show(0, true, true), show(1, true, true), show(2, true, true);
    bottomCaptions("EMA1", "EMA2", "Smooth");
  } else if (type == "RSI") {
    show(0, true, true), show(1, false, true), show(2, false, true);
    bottomCaptions("Period", "", "");
  } else if (type == "Fast Stoch.") {
    show(0, true, true), show(1, true, true), show(2, false, false);
    bottomCaptions("%K", "%D", "");
  } else if (type == "Slow Stoch.") {
    show(0, true, true), show(1, true, true), show(2, true, true);
    bottomCaptions("%K", "%D", "%K Slow");
  } else if (type == "SMA" || type == "EMA" || type == "Bollinger High" || type == "Bollinger Low") {
    show(0, true, true), show(1, false, false), show(2, false, false);
    SetCaption(t, "Period");
    VisLabels({t}, true);
    VisLabels({t + 10, t + 20}, false);
    if (t <= 5) CheckBox[static_cast<size_t>(t)]->hide();
  } else if (type == "Horiz. Line") {
    show(0, true, true), show(1, false, false), show(2, false, false);
    SetCaption(t, "Value");
    VisLabels({t}, true);
    VisLabels({t + 10, t + 20}, false);
    SetCBCaption(t, "Adjust Scale");
    VisCheckBoxes({t}, t + 10, true);
  } else if (type == "***NONE***" || type == "PV Trend" || type == "Volume") {
    show(0, false, false), show(1, false, false), show(2, false, false);
    VisLabels({t, t + 10, t + 20}, false);
    if (type == "Volume") bottomCaptions("", "", "");
    if (t <= 5) CheckBox[static_cast<size_t>(t)]->hide();
  }
}

void TdlgPickInd::CheckBox1Click(int tag) {
  if (tag < 1 || tag > 5) return;
  const int target = PickCheckTarget[static_cast<size_t>(tag)];
  if (target > 0 && target < 27) Field[static_cast<size_t>(target)]->setText(CheckBox[static_cast<size_t>(tag)]->isChecked() ? "1" : "0");
}

void TdlgPickInd::FormClose() {
  PickIndOn = rbShow->isChecked();
  ChartSettings s;
  for (int slot = 1; slot <= 6; ++slot) {
    s.IndName[static_cast<size_t>(slot)] = TypeBox[static_cast<size_t>(slot)]->currentText().toStdString();
    for (int row = 0; row < 3; ++row) {
      double v;
      try {
        v = ParsePrice(Field[static_cast<size_t>(slot + 10 * row)]->text().toStdString());
      } catch (const EConvertError&) {
        v = 1.0;
      }
      s.IndParam[static_cast<size_t>(row)][static_cast<size_t>(slot)] = v;
    }
  }
  // Fields the user never left are checked here too.
  ClampChartSettings(s, !PickAllowVolume);
  for (int slot = 1; slot <= 6; ++slot) {
    PickIndName[static_cast<size_t>(slot)] = s.IndName[static_cast<size_t>(slot)];
    for (int row = 0; row < 3; ++row)
      PickIndParam[static_cast<size_t>(row)][static_cast<size_t>(slot)] = s.IndParam[static_cast<size_t>(row)][static_cast<size_t>(slot)];
  }
}

void TdlgPickInd::done(int r) {
  FormClose();
  QDialog::done(r);
}

void TdlgPickInd::keyPressEvent(QKeyEvent* e) {
  // F1 opens the program's help here as in every other window.
  if (e->key() == Qt::Key_F1) {
    int key = e->key();
    HandleGlobalHotKey(key, e->modifiers());
    if (key == 0) {
      e->accept();
      return;
    }
  }
  QDialog::keyPressEvent(e);
}
