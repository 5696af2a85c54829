#include "windows/print/page_printer.h"

#include <QPaintEngine>
#include <QPainter>
#include <QPageLayout>
#include <QPrinter>
#include <QPrinterInfo>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

#include "core/market_clock.h"
#include "core/mini_chart.h"
#include "windows/print/page_format.h"
#include "windows/print/print_progress.h"

PrinterMetrics MetricsOf(QPrinter& printer) {
  PrinterMetrics m;
  m.DpiX = m.DpiY = std::max(1, printer.resolution());
  const QRectF paper = printer.paperRect(QPrinter::DevicePixel);
  const QRectF page = printer.pageRect(QPrinter::DevicePixel);
  m.PageWidth = std::max(1, static_cast<int>(std::lround(paper.width())));
  m.PageHeight = std::max(1, static_cast<int>(std::lround(paper.height())));
  m.OffsetX = std::max(0, static_cast<int>(std::lround(page.left() - paper.left())));
  m.OffsetY = std::max(0, static_cast<int>(std::lround(page.top() - paper.top())));
  return m;
}

int PageDeviceMetric(QPaintDevice::PaintDeviceMetric metric, const PrinterMetrics& m) {
  switch (metric) {
    case QPaintDevice::PdmWidth: return m.PageWidth;
    case QPaintDevice::PdmHeight: return m.PageHeight;
    case QPaintDevice::PdmDpiX: case QPaintDevice::PdmPhysicalDpiX: return m.DpiX;
    case QPaintDevice::PdmDpiY: case QPaintDevice::PdmPhysicalDpiY: return m.DpiY;
    case QPaintDevice::PdmWidthMM: return m.PageWidth * 254 / m.DpiX / 10;
    case QPaintDevice::PdmHeightMM: return m.PageHeight * 254 / m.DpiY / 10;
    case QPaintDevice::PdmDepth: return 32;
    case QPaintDevice::PdmNumColors: return 1 << 24;
    case QPaintDevice::PdmDevicePixelRatio: return 1;
    case QPaintDevice::PdmDevicePixelRatioScaled: return static_cast<int>(QPaintDevice::devicePixelRatioFScale());
    default: return 0;
  }
}

void TRecordedPage::Replay(QPainter& painter) const {
  // Pens, brushes and fonts are set only when they change: every change is written into a PDF.
  int font = -1;
  QPen pen = painter.pen();
  auto usePen = [&](const QPen& p) {
    if (p != pen) {
      pen = p;
      painter.setPen(p);
    }
  };
  for (const PageOp& op : Ops) {
    switch (op.Op) {
      case PageOp::Text:
        if (op.Font != font) {
          font = op.Font;
          painter.setFont(Fonts[static_cast<size_t>(op.Font)]);
        }
        if (pen.color() != op.Color) usePen(QPen(op.Color));  // text takes only the pen's colour
        painter.drawText(op.Pos, op.String);
        break;
      case PageOp::Line:
        usePen(QPen(op.Color, op.PenWidth, Qt::SolidLine, Qt::SquareCap));
        painter.drawLine(op.Pos, op.End);
        break;
      case PageOp::Polygon:
        usePen(QPen(op.Color, 0));
        painter.setBrush(op.Color);
        painter.drawPolygon(op.Points);
        painter.setBrush(Qt::NoBrush);
        break;
      case PageOp::Polyline:
        usePen(QPen(op.Color, op.PenWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPolyline(op.Points);
        break;
    }
  }
}

namespace {

// Collects the lines a mini chart draws, so that they are recorded as page operations.
class ChartCollector : public QPaintEngine {
public:
  ChartCollector() : QPaintEngine(QPaintEngine::AllFeatures) {}
  bool begin(QPaintDevice*) override { return true; }
  bool end() override { return true; }
  void updateState(const QPaintEngineState& state) override {
    if (state.state() & DirtyPen) pen_ = state.pen();
    if (state.state() & DirtyTransform) transform_ = state.transform();
  }
  void drawPolygon(const QPointF* points, int count, PolygonDrawMode mode) override {
    QPolygonF p;
    for (int i = 0; i < count; ++i) p << transform_.map(points[i]);
    if (mode != PolylineMode && count > 0) p << p.front();  // an outline closes
    Lines.push_back({p, pen_.color()});
  }
  void drawLines(const QLineF* lines, int count) override {
    for (int i = 0; i < count; ++i) Lines.push_back({QPolygonF{transform_.map(lines[i].p1()), transform_.map(lines[i].p2())}, pen_.color()});
  }
  void drawPixmap(const QRectF&, const QPixmap&, const QRectF&) override {}
  Type type() const override { return QPaintEngine::User; }
  std::vector<std::pair<QPolygonF, QColor>> Lines;

private:
  QPen pen_;
  QTransform transform_;
};

class ChartDevice : public QPaintDevice {
public:
  explicit ChartDevice(const PrinterMetrics& m) : m_(m) {}
  QPaintEngine* paintEngine() const override { return &engine_; }
  ChartCollector& Collector() const { return engine_; }

protected:
  int metric(PaintDeviceMetric metric) const override { return PageDeviceMetric(metric, m_); }

private:
  PrinterMetrics m_;
  mutable ChartCollector engine_;
};

// A printer of our own: the default printer, or a PDF printer on a machine without one. The
// PDF printer counts 300 dots per inch, the resolution the report's spacing steps (6 dots) and
// grid pens (2 dots) are made for.
std::unique_ptr<QPrinter> MakeOwnPrinter() {
  auto p = std::make_unique<QPrinter>(QPrinter::HighResolution);
  if (QPrinterInfo::availablePrinterNames().isEmpty()) {
    p->setOutputFormat(QPrinter::PdfFormat);
    p->setResolution(300);
    p->setPageMargins(QMarginsF(0, 0, 0, 0), QPageLayout::Millimeter);
  }
  return p;
}

}  // namespace

TPagePrinter::TPagePrinter(QWidget* parent, QPrinter* printer) : QScrollArea(parent) {
  if (!printer) {
    ownPrinter_ = MakeOwnPrinter();
    printer = ownPrinter_.get();
  }
  printer_ = printer;
  ShadowColor = palette().color(QPalette::Dark);
  BackColor = palette().color(QPalette::Window);
  metrics_ = ::MetricsOf(*printer_);
  // The margins start at the printer's unprintable offsets.
  margins_[0] = margins_[1] = PixelsToUnitY(metrics_.OffsetY);
  margins_[2] = margins_[3] = PixelsToUnitX(metrics_.OffsetX);
  QFont f(QStringLiteral("Courier New"));
  f.setPointSizeF(10);
  HeaderFont = FooterFont = f;
  SetFont(f);
  pages_ = std::make_shared<TPageList>();
  box_ = new QWidget;
  setWidget(box_);
  setWidgetResizable(false);
  viewport()->installEventFilter(this);
  setAlignment(Qt::AlignCenter);
  box_->installEventFilter(this);
  UpdatePreviewSize();
}

TPagePrinter::~TPagePrinter() {
  UpdatePrintProgress("<FINISH>", 0, 0, 0);
  if (file_) file_->cancelWriting();
}

void TPagePrinter::RefreshMetrics() {
  metrics_ = ::MetricsOf(*printer_);
  measurers_.clear();  // measured for the printer as it was
  ClampMargins();
  SetCanvasFont(font_);
  RebuildFriendly();
  UpdatePreviewSize();
}

void TPagePrinter::RefuseWhileBusy(const char* message) const {
  if (recording_ || printing_) throw EPagePrinter(message);
}

// ---- Properties ----

void TPagePrinter::SetFont(const QFont& font) {
  font_ = font;
  SetCanvasFont(font);
  if (!suspendAuto_) {
    if (AutoHeaderFont) HeaderFont = font;
    if (AutoFooterFont) FooterFont = font;
  }
}

void TPagePrinter::SetCanvasFont(const QFont& font) {
  // Fonts are recorded in printer pixels and measured with the printer's metrics, so text
  // and grid lines keep their places on every replay.
  canvasFont_ = CanvasFontOf(font);
  fm_ = &MeasurerOf(canvasFont_).Metrics;
  curFont_ = -1;
  RecomputeLineHeight();
}

QFont TPagePrinter::CanvasFontOf(const QFont& font) const {
  QFont f = font;
  const double points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 72.0 / 96.0;
  f.setPixelSize(std::max(1, static_cast<int>(std::lround(points * metrics_.DpiY / 72.0))));
  f.setHintingPreference(QFont::PreferNoHinting);
  return f;
}

QFontMetricsF TPagePrinter::MetricsOf(const QFont& font) const { return QFontMetricsF(CanvasFontOf(font), printer_); }

TPagePrinter::Measurer& TPagePrinter::MeasurerOf(const QFont& canvasFont) const {
  for (auto& m : measurers_)
    if (m->Font == canvasFont) return *m;
  measurers_.push_back(std::make_unique<Measurer>(canvasFont, printer_));
  return *measurers_.back();
}

std::function<double(const QString&)> TPagePrinter::MeasureIn(const QFont& font) const {
  const QFontMetricsF* m = &MeasurerOf(CanvasFontOf(font)).Metrics;
  return [m](const QString& text) { return m->horizontalAdvance(text); };
}

int TPagePrinter::EmHeight() const { return std::max(1, canvasFont_.pixelSize()); }

void TPagePrinter::RecomputeLineHeight() {
  // The font's em height (its size in pixels, without the room above and below the letters).
  const int h = EmHeight();
  switch (lineSpacing_) {
    case lsHalfSpace: lineHeight_ = std::max(1, h / 2); break;
    case lsSingleSpace: lineHeight_ = h; break;
    case lsSingleAndAHalf: lineHeight_ = h + h / 2; break;
    case lsDoubleSpace: lineHeight_ = 2 * h; break;
  }
}

void TPagePrinter::SetLineSpacing(TLineSpacing s) {
  lineSpacing_ = s;
  RecomputeLineHeight();
}

void TPagePrinter::SetTableFormat(const std::string& format) { tableFormat_ = NormalTableFormat(format, TokenSeparator); }
void TPagePrinter::SetHeaderFormat(const std::string& format) { headerFormat_ = NormalTableFormat(format, TokenSeparator); }
void TPagePrinter::SetFooterFormat(const std::string& format) { footerFormat_ = NormalTableFormat(format, TokenSeparator); }

void TPagePrinter::SetFriendlyHeader(const std::string& code) {
  friendlyHeader_ = code;
  RebuildFriendly();
}

void TPagePrinter::SetFriendlyFooter(const std::string& code) {
  friendlyFooter_ = code;
  RebuildFriendly();
}

void TPagePrinter::RebuildFriendly() {
  // Rebuilt whenever the printable width changes, so the cells always span the page.
  const TDateTime now = MarketNow();
  if (!friendlyHeader_.empty()) {
    auto [row, format] = FriendlyToHeader(friendlyHeader_, PrintableWidthUnits(), fileName_, now, TokenSeparator);
    Header = row;
    headerFormat_ = format;
  }
  if (!friendlyFooter_.empty()) {
    auto [row, format] = FriendlyToHeader(friendlyFooter_, PrintableWidthUnits(), fileName_, now, TokenSeparator);
    Footer = row;
    footerFormat_ = format;
  }
}

void TPagePrinter::SetMargin(int index, double value) {
  static const char* const messages[4] = {
      "Unable to change top margin while printing", "Unable to change bottom margin while printing",
      "Unable to change left margin while printing", "Unable to change right margin while printing"};
  RefuseWhileBusy(messages[index]);
  if (!std::isfinite(value)) value = 0;
  margins_[index] = value;
  ClampMargins();
  RebuildFriendly();
  if (box_) box_->update();
}

void TPagePrinter::ClampMargins() {
  // Each margin lies between the unprintable offset of its side and the paper less the
  // offset of the other side.
  const double offX = PixelsToUnitX(metrics_.OffsetX), offY = PixelsToUnitY(metrics_.OffsetY);
  const double maxX = PixelsToUnitX(metrics_.PageWidth) - offX, maxY = PixelsToUnitY(metrics_.PageHeight) - offY;
  for (int i = 0; i < 4; ++i) {
    const double lo = i < 2 ? offY : offX, hi = i < 2 ? maxY : maxX;
    margins_[i] = std::clamp(margins_[i], lo, std::max(lo, hi));
  }
}

void TPagePrinter::SetMeasureUnit(TMeasureUnit unit) {
  if (unit == unit_) return;
  const bool mm = unit == muMillimeters;
  for (double& m : margins_) m = ConvertLength(m, mm);
  PageBorderOffset = ConvertLength(PageBorderOffset, mm);
  DefaultColWidth = ConvertLength(DefaultColWidth, mm);
  PadCellX = ConvertLength(PadCellX, mm);
  tableFormat_ = ConvertTableFormat(tableFormat_, TokenSeparator, mm);
  headerFormat_ = ConvertTableFormat(headerFormat_, TokenSeparator, mm);
  footerFormat_ = ConvertTableFormat(footerFormat_, TokenSeparator, mm);
  unit_ = unit;
  ClampMargins();
  RebuildFriendly();
}

void TPagePrinter::SetPrintToFile(bool on) {
  RefuseWhileBusy("Can't change PrintToFile while printing");
  printToFile_ = on;
}

void TPagePrinter::SetFileName(const std::string& name) {
  RefuseWhileBusy("Can't change FileName while printing");
  fileName_ = Trim(name);
  RebuildFriendly();
}

void TPagePrinter::SetOrientationLandscape(bool landscape) {
  RefuseWhileBusy("Unable to change orientation while printing");
  printer_->setPageOrientation(landscape ? QPageLayout::Landscape : QPageLayout::Portrait);
  RefreshMetrics();
}

StringList& TPagePrinter::Lines() {
  if (!lines_) lines_ = std::make_unique<StringList>();
  return *lines_;
}

// ---- Geometry ----

namespace {
double ToInches(double length, TMeasureUnit unit) { return unit == muMillimeters ? length / 25.4 : length; }
}  // namespace

int TPagePrinter::UnitToPixelsX(double length) const {
  return static_cast<int>(std::lround(ToInches(length, unit_) * metrics_.DpiX));
}
int TPagePrinter::UnitToPixelsY(double length) const {
  return static_cast<int>(std::lround(ToInches(length, unit_) * metrics_.DpiY));
}
double TPagePrinter::PixelsToUnitX(double pixels) const {
  const double in = pixels / metrics_.DpiX;
  return unit_ == muMillimeters ? in * 25.4 : in;
}
double TPagePrinter::PixelsToUnitY(double pixels) const {
  const double in = pixels / metrics_.DpiY;
  return unit_ == muMillimeters ? in * 25.4 : in;
}
int TPagePrinter::MarginLeftPixels() const { return UnitToPixelsX(margins_[2]) - metrics_.OffsetX; }
int TPagePrinter::MarginRightPixels() const { return UnitToPixelsX(margins_[3]) - metrics_.OffsetX; }
int TPagePrinter::MarginTopPixels() const { return UnitToPixelsY(margins_[0]) - metrics_.OffsetY; }
int TPagePrinter::MarginBottomPixels() const { return UnitToPixelsY(margins_[1]) - metrics_.OffsetY; }
// The paper less both margins (each margin counts from the paper's edge).
int TPagePrinter::PrintableWidth() const {
  return std::max(1, metrics_.PageWidth - UnitToPixelsX(margins_[2]) - UnitToPixelsX(margins_[3]));
}
int TPagePrinter::PrintableHeight() const {
  return std::max(1, metrics_.PageHeight - UnitToPixelsY(margins_[0]) - UnitToPixelsY(margins_[1]));
}

double TPagePrinter::TextWidth(const QString& text) const { return fm_->horizontalAdvance(text); }

// ---- Recording ----

void TPagePrinter::BeginDoc() {
  if (recording_) throw EPagePrinter("A document is being recorded already");
  if (printing_) throw EPagePrinter("Unable to start a document while printing");
  RefreshMetrics();
  recordDpiX_ = metrics_.DpiX;
  recordDpiY_ = metrics_.DpiY;
  if (printToFile_) {
    auto f = std::make_unique<QSaveFile>(QString::fromStdString(fileName_));
    if (fileName_.empty() || !f->open(QIODevice::WriteOnly))
      throw std::runtime_error("Cannot create file \"" + fileName_ + "\": " + f->errorString().toStdString());
    file_ = std::move(f);
    fileCol_ = 0;
  } else {
    pages_ = std::make_shared<TPageList>(1);
    curFont_ = -1;
  }
  recording_ = true;
  pageNumber_ = 1;
  try {
    StartPage();
  } catch (...) {
    AbortDoc();
    throw;
  }
}

void TPagePrinter::EndDoc() {
  if (!recording_) return;
  recording_ = false;
  if (file_) {
    std::unique_ptr<QSaveFile> f = std::move(file_);
    if (!f->commit()) throw std::runtime_error("Cannot write file \"" + fileName_ + "\": " + f->errorString().toStdString());
    return;
  }
  pageNumber_ = pages_->empty() ? 0 : 1;
  UpdatePreviewSize();
  PlaceScroll();
  if (box_) box_->update();
}

void TPagePrinter::AbortDoc() {
  recording_ = false;
  headerMode_ = false;
  suspendAuto_ = false;
  if (file_) {
    file_->cancelWriting();
    file_.reset();
    return;
  }
  pageNumber_ = pages_->empty() ? 0 : 1;
  UpdatePreviewSize();
  if (box_) box_->update();
}

void TPagePrinter::NewPage() {
  if (!recording_) return;
  if (file_) {
    FileWrite(QStringLiteral("\f\r\n"));
    fileCol_ = 0;
  } else {
    pages_->emplace_back();
    curFont_ = -1;
  }
  ++pageNumber_;
  StartPage();
}

void TPagePrinter::NewLine() {
  x_ = 0;
  y_ += lineHeight_ + PadCellY;
  bool broke = false;
  if (!file_ && !headerMode_ && recording_ && y_ + lineHeight_ + PadCellY >= PrintableHeight()) {
    NewPage();
    broke = true;
  }
  if (!broke) {
    if (file_) {
      FileWrite(QStringLiteral("\r\n"));
      fileCol_ = 0;
    }
    ++lineNumber_;
  }
  if (OnNewLine) OnNewLine();
}

void TPagePrinter::StartPage() {
  x_ = y_ = lineNumber_ = 0;
  lastRowLine_.reset();
  if (OnNewPage) OnNewPage();
  const int sx = x_, sy = y_, sl = lineNumber_;
  const std::string format = tableFormat_;
  const bool grid = TableGrid;
  TableGrid = false;
  suspendAuto_ = true;
  auto restore = [&] {
    headerMode_ = false;
    x_ = sx;
    y_ = sy;
    lineNumber_ = sl;
    tableFormat_ = format;
    TableGrid = grid;
    suspendAuto_ = false;
    SetCanvasFont(font_);  // the header's font never leaks into the body
  };
  try {
    auto band = [&](const std::string& row, const std::string& rowFormat, const QFont& font, bool top) {
      if (row.empty()) return;
      headerMode_ = true;
      SetCanvasFont(font);
      tableFormat_ = rowFormat;
      if (!file_) {
        const int offset = UnitToPixelsY(PageBorderOffset);
        if (top) {
          // Centred in the top margin (above the border line when there is one), never
          // above the printer's origin.
          const int band = MarginTopPixels() - ((PageBorders & pbTop) ? offset : 0);
          y_ = std::max((band - lineHeight_ - PadCellY) / 2, 0) - MarginTopPixels();
        } else {
          const int border = (PageBorders & pbBottom) ? offset : 0;
          const int band = MarginBottomPixels() - border;
          y_ = PrintableHeight() + border + std::max((band - lineHeight_ - PadCellY) / 2, 0);
        }
      }
      x_ = 0;
      WriteTableLine(row);
      headerMode_ = false;
    };
    band(Header, headerFormat_, HeaderFont, true);
    band(Footer, footerFormat_, FooterFont, false);
  } catch (...) {
    restore();
    throw;
  }
  restore();
  if (OnNewLine) OnNewLine();
  DrawBorders();
}

void TPagePrinter::DrawBorders() {
  if (file_ || !PageBorders) return;
  const int off = UnitToPixelsX(PageBorderOffset), offY = UnitToPixelsY(PageBorderOffset);
  const int l = MarginLeftPixels() - off, r = MarginLeftPixels() + PrintableWidth() + off;
  const int t = MarginTopPixels() - offY, b = MarginTopPixels() + PrintableHeight() + offY;
  const int hPen = 2 * (metrics_.DpiY / 300), vPen = 2 * (metrics_.DpiX / 300);
  if (PageBorders & pbTop) AddLine(QPointF(l, t), QPointF(r, t), hPen);
  if (PageBorders & pbBottom) AddLine(QPointF(l, b), QPointF(r, b), hPen);
  if (PageBorders & pbLeft) AddLine(QPointF(l, t), QPointF(l, b), vPen);
  if (PageBorders & pbRight) AddLine(QPointF(r, t), QPointF(r, b), vPen);
}

TRecordedPage& TPagePrinter::Page() {
  if (pages_->empty()) pages_->emplace_back();
  return pages_->back();
}

int TPagePrinter::FontIndex() {
  TRecordedPage& page = Page();
  // Valid until the canvas font or the page changes (both reset it).
  if (curFont_ < 0 || curFont_ >= static_cast<int>(page.Fonts.size())) {
    auto it = std::find(page.Fonts.begin(), page.Fonts.end(), canvasFont_);
    if (it == page.Fonts.end()) {
      page.Fonts.push_back(canvasFont_);
      it = page.Fonts.end() - 1;
    }
    curFont_ = static_cast<int>(it - page.Fonts.begin());
  }
  return curFont_;
}

void TPagePrinter::AddLine(QPointF a, QPointF b, int width) {
  PageOp op;
  op.Op = PageOp::Line;
  op.Pos = a;
  op.End = b;
  op.PenWidth = width;
  op.Color = Qt::black;
  Page().Ops.push_back(std::move(op));
}

// Draws the text on paper at the pen's line, x from the left margin.
void TPagePrinter::PlaceText(const QString& text, int x) {
  if (text.isEmpty()) return;
  PageOp op;
  op.Op = PageOp::Text;
  op.Font = FontIndex();
  op.Pos = QPointF(MarginLeftPixels() + x, MarginTopPixels() + y_ + fm_->ascent());
  op.Color = Qt::black;
  op.String = text;
  Page().Ops.push_back(std::move(op));
}

void TPagePrinter::FileWrite(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  if (file_->write(bytes) != bytes.size())
    throw std::runtime_error("Cannot write file \"" + fileName_ + "\": " + file_->errorString().toStdString());
}

// File mode: blanks up to the column of pixel offset x, as far as the line has not passed it.
void TPagePrinter::FileBlanksTo(int x) {
  const int blank = std::max(1, static_cast<int>(TextWidth(QStringLiteral(" "))));
  const int col = std::max(0, x) / blank;
  if (col > fileCol_) {
    FileWrite(QString(col - fileCol_, QLatin1Char(' ')));
    fileCol_ = col;
  }
}

void TPagePrinter::FileText(const QString& text, int x) {
  FileBlanksTo(x);
  FileWrite(text);
  fileCol_ += static_cast<int>(text.size());
}

void TPagePrinter::Write(const std::string& text) { WriteText(QString::fromStdString(text), false, 0); }
void TPagePrinter::WriteLine(const std::string& text) { WriteText(QString::fromStdString(text), true, Alignment); }
void TPagePrinter::WriteLineAligned(int alignment, const std::string& text) {
  WriteText(QString::fromStdString(text), true, alignment);
}

void TPagePrinter::WriteText(const QString& raw, bool endLine, int alignment) {
  if (!recording_) throw EPagePrinter("Nothing is being recorded (BeginDoc first)");
  const QString text = ExpandTabs(raw, TabSize);
  const double room = endLine ? PrintableWidth() : PrintableWidth() - x_;
  auto measure = [this](const QString& s) { return TextWidth(s); };
  std::vector<QString> lines;
  if (text.size() > 1 && TextWidth(text) > room) {
    if (WordWrap) {
      QString rest = text;
      bool first = true;
      while (!rest.isEmpty()) {
        const LineCut cut = CutLine(rest, first ? room : PrintableWidth(), measure, endLine);
        lines.push_back(rest.left(cut.LineLength));
        rest = rest.mid(cut.RestStart);
        first = false;
      }
    } else {
      lines.push_back(text.left(CutLine(text, room, measure, false).LineLength));
    }
  } else {
    lines.push_back(text);
  }
  for (size_t i = 0; i < lines.size(); ++i) {
    const QString& line = lines[i];
    const double w = TextWidth(line);
    if (endLine) {
      const int free = PrintableWidth() - static_cast<int>(std::lround(w));
      x_ = alignment == 1 ? free : alignment == 2 ? free / 2 : 0;
      x_ = std::max(0, x_);
    }
    // A line that would cross the bottom starts a new page first (never an empty one).
    if (!file_ && y_ > 0 && y_ + lineHeight_ + PadCellY >= PrintableHeight()) NewPage();
    if (file_) FileText(line, x_);
    else PlaceText(line, x_);
    if (endLine || i + 1 < lines.size()) {
      NewLine();
    } else {
      x_ += static_cast<int>(std::lround(w));
    }
  }
}

void TPagePrinter::WriteTableLine(const std::string& text) {
  std::vector<TableCell> cells;
  for (std::string& t : SplitTokens(text, TokenSeparator)) cells.push_back({std::move(t), false});
  WriteTableCells(std::move(cells));
}

struct TPagePrinter::RowCell {
  enum Kind { Text, Up, Down, Chart } What = Text;
  char Align = '<';
  int X = 0, W = 0;
  bool Grid = true;
  QString Rest;
  double RestWidth = -1;  // when known
  std::string Symbol;
};

void TPagePrinter::WriteTableCells(std::vector<TableCell> cells) {
  if (!recording_) throw EPagePrinter("Nothing is being recorded (BeginDoc first)");
  // Rows of one table share their format: it is read once.
  if (!parsedFormat_ || parsedFormat_->Text != tableFormat_ || parsedFormat_->Separator != TokenSeparator ||
      parsedFormat_->DefaultWidth != DefaultColWidth)
    parsedFormat_ = ParsedFormat{tableFormat_, TokenSeparator, DefaultColWidth, ParseTableFormat(tableFormat_, TokenSeparator, DefaultColWidth)};
  const std::vector<CellFormat>& formats = parsedFormat_->Cells;
  cells.resize(formats.size());
  const int pw = PrintableWidth();
  std::vector<RowCell> row(formats.size());
  int sum = 0;
  for (size_t i = 0; i < formats.size(); ++i) {
    row[i].W = UnitToPixelsX(std::fabs(formats[i].Width));
    row[i].Grid = formats[i].Width >= 0;
    row[i].Align = formats[i].Align;
    sum += row[i].W;
  }
  int x = sum < pw ? (pw - sum) / 2 : 0;  // narrower tables are centred
  const TDateTime now = MarketNow();
  for (size_t i = 0; i < row.size(); ++i) {
    RowCell& c = row[i];
    c.X = x;
    x += c.W;
    std::string t = std::move(cells[i].Text);
    if (!cells[i].Literal) {
      t = ReplaceMacros(std::move(t), lineNumber_, pageNumber_, now, Title);
      if (t == "**UP**") c.What = RowCell::Up;
      else if (t == "**DN**") c.What = RowCell::Down;
      else if (t.rfind("##", 0) == 0) {
        c.What = RowCell::Chart;
        c.Symbol = t.substr(2);
      }
    }
    if (c.What == RowCell::Text) {
      c.Rest = ExpandTabs(QString::fromStdString(t), TabSize);
      if (cells[i].Literal && t.find('\t') == std::string::npos) c.RestWidth = cells[i].Width;
    }
  }
  const int pad = UnitToPixelsX(PadCellX) / 2;
  const int hPen = 2 * (metrics_.DpiY / 300), vPen = 2 * (metrics_.DpiX / 300);
  const double factor = lineSpacing_ == lsHalfSpace ? 0.5 : lineSpacing_ == lsSingleSpace ? 1 : lineSpacing_ == lsSingleAndAHalf ? 1.5 : 2;
  auto measure = [this](const QString& s) { return TextWidth(s); };
  int cellBottom = 0;
  bool first = true;
  std::vector<std::pair<int, int>> tops;
  for (;;) {
    int sharedX = -1;  // the right line the cell before drew on this line
    const int lineTop = MarginTopPixels() + y_ - static_cast<int>(std::lround(fm_->leading() * factor));
    const int cellTop = lineTop - PadCellY / 2;
    cellBottom = cellTop + PadCellY + lineHeight_;
    bool more = false;
    for (RowCell& c : row) {
      const int left = MarginLeftPixels() + c.X;
      // A cell that crosses the printable width ends there, as its grid lines do, so nothing
      // in it runs past the margin.
      const int w = std::min(c.W, pw - c.X);
      if (c.What != RowCell::Text) {
        if (first && !file_ && c.X < pw) {
          if (c.What == RowCell::Chart) DrawChart(c.Symbol, QRect(QPoint(left, cellTop), QPoint(left + w - 1, cellBottom)));
          else DrawArrow(c.What == RowCell::Up, left, w, pad, cellTop, cellBottom);
        }
      } else if (c.X >= pw) {
        c.Rest.clear();  // beyond the page: not drawn, and no lines of its own
      } else if (!c.Rest.isEmpty()) {
        // A text fits between the cell's paddings.
        const int room = std::max(1, w - 2 * pad);
        QString line;
        const double restWidth = c.RestWidth >= 0 ? c.RestWidth : TextWidth(c.Rest);
        c.RestWidth = -1;
        const bool fits = restWidth <= room;
        const qsizetype restSize = c.Rest.size();
        if (WordWrap) {
          const LineCut cut = fits ? LineCut{static_cast<int>(c.Rest.size()), static_cast<int>(c.Rest.size())}
                                   : CutLine(c.Rest, room, measure, true);
          line = c.Rest.left(cut.LineLength);
          QString rest = c.Rest.mid(cut.RestStart);
          const qsizetype lf = line.indexOf(QLatin1Char('\n'));
          if (lf >= 0) {
            const QString after = line.mid(lf + 1);
            rest = rest.isEmpty() ? after : after.isEmpty() ? rest : after + QLatin1Char(' ') + rest;
            line = line.left(lf);
          }
          c.Rest = rest;
          more = more || !c.Rest.isEmpty();
        } else {
          line = fits ? c.Rest : c.Rest.left(CutLine(c.Rest, room, measure, false).LineLength);
          c.Rest.clear();
        }
        const int tw = static_cast<int>(std::lround(fits && line.size() == restSize ? restWidth : TextWidth(line)));
        const int pos = c.Align == '>' ? c.X + w - tw - pad : c.Align == '^' ? c.X + (w - tw) / 2 : c.X + pad;
        if (pos < pw) {
          if (file_) FileText(line, pos);
          else PlaceText(line, pos);
        }
      }
      if (file_) FileBlanksTo(c.X + c.W);
      if (TableGrid && c.Grid && !file_ && c.X < pw) {
        const int l = MarginLeftPixels() + c.X, r = MarginLeftPixels() + std::min(c.X + c.W, pw);
        if (first) tops.emplace_back(l, r);
        // Neighbouring cells share their side line.
        if (l != sharedX) AddLine(QPointF(l, cellTop), QPointF(l, cellBottom), vPen);
        sharedX = -1;
        if (c.X + c.W <= pw) {
          AddLine(QPointF(r, cellTop), QPointF(r, cellBottom), vPen);
          sharedX = r;
        }
      }
    }
    if (first && !tops.empty()) AddRowLines(tops, cellTop, hPen);
    first = false;
    if (!more) break;
    NewLine();
  }
  if (TableGrid && !file_) {
    std::vector<std::pair<int, int>> bottoms;
    for (const RowCell& c : row)
      if (c.Grid && c.X < pw) bottoms.emplace_back(MarginLeftPixels() + c.X, MarginLeftPixels() + std::min(c.X + c.W, pw));
    if (!bottoms.empty()) AddRowLines(bottoms, cellBottom, hPen);
  }
  if (!(headerMode_ && !file_)) NewLine();
}

// A row's top or bottom grid line: the cells' segments joined where they meet, and left out
// where the row above ended with the same line (its bottom is this row's top).
void TPagePrinter::AddRowLines(const std::vector<std::pair<int, int>>& cells, int y, int pen) {
  std::vector<std::pair<int, int>> runs;
  for (const auto& [l, r] : cells) {
    if (!runs.empty() && runs.back().second == l) runs.back().second = r;
    else runs.emplace_back(l, r);
  }
  if (!(lastRowLine_ && lastRowLine_->first == y && lastRowLine_->second == runs))
    for (const auto& [l, r] : runs) AddLine(QPointF(l, y), QPointF(r, y), pen);
  lastRowLine_.emplace(y, std::move(runs));
}

void TPagePrinter::DrawArrow(bool up, int cellX, int cellW, int pad, int cellTop, int cellBottom) {
  const int bw = (static_cast<int>(fm_->averageCharWidth()) / 4) * 4;
  const int q = bw / 4;
  const int L = cellX + cellW / 2 + pad - 2 * q, R = L + 4 * q;
  const int height = std::max(1, EmHeight() - 4);
  const int T = (cellTop + cellBottom) / 2 - height / 2, B = T + height;
  QPolygonF p;
  if (up)
    p << QPoint(L, T + 2 * q) << QPoint(L + 2 * q, T) << QPoint(R, T + 2 * q) << QPoint(R - q, T + 2 * q)
      << QPoint(R - q, B) << QPoint(L + q, B) << QPoint(L + q, T + 2 * q) << QPoint(L, T + 2 * q);
  else
    p << QPoint(L, B - 2 * q) << QPoint(L + 2 * q, B) << QPoint(R, B - 2 * q) << QPoint(R - q, B - 2 * q)
      << QPoint(R - q, T) << QPoint(L + q, T) << QPoint(L + q, B - 2 * q) << QPoint(L, B - 2 * q);
  PageOp op;
  op.Op = PageOp::Polygon;
  op.Points = p;
  op.Color = Qt::black;  // the font's colour
  Page().Ops.push_back(std::move(op));
}

void TPagePrinter::DrawChart(const std::string& symbol, const QRect& rect) {
  // Recorded as it is now, so the preview and every copy show the same chart; its line gets a
  // width that shows on paper (a hundred-and-fiftieth of an inch).
  ChartDevice device(metrics_);
  {
    QPainter p(&device);
    DrawMiniChart(symbol, p, rect, 1);
  }
  for (auto& [points, color] : device.Collector().Lines) {
    PageOp op;
    op.Op = PageOp::Polyline;
    op.Points = std::move(points);
    op.Color = color;
    op.PenWidth = std::max(1, metrics_.DpiY / 150);
    Page().Ops.push_back(std::move(op));
  }
}
