#pragma once
// TPagePrinter: lays text lines and table rows out on pages with the printer's own metrics,
// records each page once (in printer pixels) and replays the recordings in its preview, on the
// printer or into a PDF file; in file mode it writes a plain-text rendering instead.
#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QPaintDevice>
#include <QPolygon>
#include <QScrollArea>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/string_list.h"
#include "windows/print/page_format.h"

class QPainter;
class QPrinter;
class QSaveFile;
class TPPPrnPrgDlg;

// Misuse of the page printer (changing the layout while recording or printing, a page number
// out of range, a printer that does not start).
class EPagePrinter : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};
class ECancelPrinting : public std::runtime_error {
public:
  ECancelPrinting() : std::runtime_error("Printing Cancelled") {}
};

enum TLineSpacing { lsHalfSpace, lsSingleSpace, lsSingleAndAHalf, lsDoubleSpace };
enum TMeasureUnit { muInches, muMillimeters };
// TPageBorders: a set of these bits.
enum TPageBorder { pbTop = 1, pbBottom = 2, pbLeft = 4, pbRight = 8 };
enum TZoomLocation { zlTopLeft, zlTopCenter, zlCenter };

// The device the pages are recorded for, in its pixels.
struct PrinterMetrics {
  int DpiX = 600, DpiY = 600;
  int PageWidth = 5100, PageHeight = 6600;  // the paper's physical size
  int OffsetX = 0, OffsetY = 0;             // the unprintable offsets (the printer's origin)
};
PrinterMetrics MetricsOf(QPrinter& printer);
// What a paint device of a page of that printer reports (for devices that collect drawing).
int PageDeviceMetric(QPaintDevice::PaintDeviceMetric metric, const PrinterMetrics& m);

// One recorded drawing operation, in printer pixels from the printer's origin.
struct PageOp {
  enum Kind : unsigned char { Text, Line, Polygon, Polyline } Op = Text;
  int Font = -1;     // Text: index into the page's fonts
  int PenWidth = 0;  // Line, Polyline
  QPointF Pos;       // Text: baseline start; Line: first end
  QPointF End;       // Line: second end
  QColor Color;
  QString String;    // Text
  QPolygonF Points;  // Polygon (filled), Polyline (a mini chart's line)
};

class TRecordedPage {
public:
  std::vector<QFont> Fonts;
  std::vector<PageOp> Ops;
  void Replay(QPainter& painter) const;
};
using TPageList = std::vector<TRecordedPage>;

// A table cell handed over directly. A literal text is printed as it stands: no macros,
// arrows or mini charts, whatever it holds.
struct TableCell {
  std::string Text;
  bool Literal = false;
  // A literal text's width in the font the row is written in, when the caller has measured
  // it already (device pixels); negative: unknown.
  double Width = -1;
};

class TPagePrinter : public QScrollArea {
public:
  // The printer is owned by the caller and must outlive the control; null: an own printer
  // (the default printer, or a PDF printer when none is installed).
  explicit TPagePrinter(QWidget* parent = nullptr, QPrinter* printer = nullptr);
  ~TPagePrinter() override;

  QPrinter& Printer() { return *printer_; }
  // Re-reads the printer's metrics (after a printer set-up); the margins are clamped anew.
  void RefreshMetrics();
  const PrinterMetrics& Metrics() const { return metrics_; }

  // ---- Properties (lengths in MeasureUnit) ----
  const QFont& Font() const { return font_; }
  void SetFont(const QFont& font);
  QFont HeaderFont, FooterFont;
  bool AutoHeaderFont = true, AutoFooterFont = true;
  std::string Title;
  TLineSpacing LineSpacing() const { return lineSpacing_; }
  void SetLineSpacing(TLineSpacing s);
  int TabSize = 8;
  bool WordWrap = true;
  int Alignment = 0;  // 0 left, 1 right, 2 centre
  char TokenSeparator = '|';
  const std::string& TableFormat() const { return tableFormat_; }
  void SetTableFormat(const std::string& format);
  bool TableGrid = false;
  double DefaultColWidth = 0;
  double PadCellX = 0;
  int PadCellY = 0;  // device pixels
  std::string Header, Footer;
  const std::string& HeaderFormat() const { return headerFormat_; }
  void SetHeaderFormat(const std::string& format);
  const std::string& FooterFormat() const { return footerFormat_; }
  void SetFooterFormat(const std::string& format);
  const std::string& FriendlyHeader() const { return friendlyHeader_; }
  void SetFriendlyHeader(const std::string& code);
  const std::string& FriendlyFooter() const { return friendlyFooter_; }
  void SetFriendlyFooter(const std::string& code);
  double MarginTop() const { return margins_[0]; }
  double MarginBottom() const { return margins_[1]; }
  double MarginLeft() const { return margins_[2]; }
  double MarginRight() const { return margins_[3]; }
  void SetMarginTop(double v) { SetMargin(0, v); }
  void SetMarginBottom(double v) { SetMargin(1, v); }
  void SetMarginLeft(double v) { SetMargin(2, v); }
  void SetMarginRight(double v) { SetMargin(3, v); }
  TMeasureUnit MeasureUnit() const { return unit_; }
  void SetMeasureUnit(TMeasureUnit unit);
  int PageBorders = 0;
  double PageBorderOffset = 0;
  bool PrintToFile() const { return printToFile_; }
  void SetPrintToFile(bool on);
  const std::string& FileName() const { return fileName_; }
  void SetFileName(const std::string& name);
  void SetOrientationLandscape(bool landscape);
  int Copies() const { return copies_; }
  void SetCopies(int copies) { copies_ = copies < 1 ? 1 : copies; }
  bool Collate = true;
  bool ShowProgress = true, ShowCancel = true;
  // Cancel aborts the job: nothing of it is printed (a PDF is not written). Off: the job ends
  // after the pages already sent, which are printed (a PDF holds them).
  bool AbortOnCancel = true;
  std::string ProgressMessage;
  StringList& Lines();
  std::function<void()> OnNewLine, OnNewPage;

  // ---- Recording ----
  void BeginDoc();
  void EndDoc();
  // Ends a recording that failed: recording is off, a text file is dropped, the pages kept
  // so far stay viewable.
  void AbortDoc();
  void NewPage();
  void NewLine();
  void Write(const std::string& text);
  void WriteLine(const std::string& text);
  void WriteLineAligned(int alignment, const std::string& text);
  void WriteTableLine(const std::string& text);
  void WriteTableCells(std::vector<TableCell> cells);
  bool Recording() const { return recording_; }
  bool Printing() const { return printing_; }
  int X() const { return x_; }
  int Y() const { return y_; }
  int LineNumber() const { return lineNumber_; }
  int LineHeight() const { return lineHeight_; }

  // ---- Geometry ----
  int UnitToPixelsX(double length) const;
  int UnitToPixelsY(double length) const;
  double PixelsToUnitX(double pixels) const;
  double PixelsToUnitY(double pixels) const;
  // Margins in device pixels from the printer's origin.
  int MarginLeftPixels() const;
  int MarginRightPixels() const;
  int MarginTopPixels() const;
  int MarginBottomPixels() const;
  int PrintableWidth() const;
  int PrintableHeight() const;
  double PrintableWidthUnits() const { return PixelsToUnitX(PrintableWidth()); }
  double PrintableHeightUnits() const { return PixelsToUnitY(PrintableHeight()); }
  // Width of a text in the current canvas font, device pixels.
  double TextWidth(const QString& text) const;
  // Widths of texts in the canvas form of another font (until the printer's metrics change).
  std::function<double(const QString&)> MeasureIn(const QFont& font) const;
  // The font as it is recorded (sized in printer pixels) and its metrics on the printer.
  QFont CanvasFontOf(const QFont& font) const;
  QFontMetricsF MetricsOf(const QFont& font) const;

  // ---- Pages and preview ----
  int PageNumber() const { return pageNumber_; }
  void SetPageNumber(int page);
  int PageCount() const;
  std::shared_ptr<const TPageList> Pages() const { return pages_; }
  int ZoomPercent() const { return zoom_; }
  void SetZoomPercent(int percent);
  void ZoomToFit();
  void ZoomToWidth();
  void ZoomToHeight();
  TZoomLocation ZoomLocation = zlTopLeft;
  bool ShowMargins = true;
  bool GradientBackground = true;
  QColor ShadowColor;
  int ShadowOffset() const { return shadowOffset_; }
  void SetShadowOffset(int pixels);
  QColor BackColor;
  // Paints the current page into the box (the preview's paint event).
  virtual void PaintPage(QPainter& painter, const QRect& box);
  // The page's rectangle on screen at the current zoom, centred in the box.
  QRect PageRectOnScreen(const QRect& box) const;

  // ---- Output ----
  // Pages to print, 0: from the first / to the last.
  int FirstPage() const { return firstPage_; }
  int LastPage() const { return lastPage_; }
  void SetFirstPage(int page);
  void SetLastPage(int page);
  // Prints the page range to the printer (a PDF printer writes a temporary file renamed into
  // place at the end). Cancelling ends quietly; a printer that fails throws EPagePrinter.
  void PrintPages();
  // Shows, updates or (message "<FINISH>") closes the progress dialog.
  void UpdatePrintProgress(const std::string& message, int page, int lastPage, int firstPage);
  // Sets the cancel flag (the progress dialog's Cancel button).
  void RequestCancel() { cancel_ = true; }
  TPPPrnPrgDlg* ProgressDialog() const { return progress_; }
  // Called for each page sent to the printer, after it was drawn (tests and tools).
  std::function<void(int page, int copy)> OnPagePrinted;

protected:
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  struct RowCell;
  void SetMargin(int index, double value);
  void ClampMargins();
  void RebuildFriendly();
  void SetCanvasFont(const QFont& font);
  int EmHeight() const;
  void RecomputeLineHeight();
  void StartPage();
  void DrawBorders();
  void WriteText(const QString& text, bool endLine, int alignment);
  void PlaceText(const QString& text, int x);
  void FileText(const QString& text, int x);
  void FileBlanksTo(int x);
  void FileWrite(const QString& text);
  TRecordedPage& Page();
  int FontIndex();
  void AddLine(QPointF a, QPointF b, int width);
  void AddRowLines(const std::vector<std::pair<int, int>>& cells, int y, int pen);
  void DrawArrow(bool up, int cellX, int cellW, int pad, int cellTop, int cellBottom);
  void DrawChart(const std::string& symbol, const QRect& rect);
  void RefuseWhileBusy(const char* message) const;
  void UpdatePreviewSize();
  void PlaceScroll();
  double ScreenRatioX() const;
  double ScreenRatioY() const;

  QPrinter* printer_ = nullptr;
  std::unique_ptr<QPrinter> ownPrinter_;
  PrinterMetrics metrics_;
  QFont font_;
  QFont canvasFont_;
  // The metrics of each canvas font used, until the printer changes.
  struct Measurer {
    Measurer(const QFont& font, QPaintDevice* device) : Font(font), Metrics(font, device) {}
    QFont Font;
    QFontMetricsF Metrics;
  };
  Measurer& MeasurerOf(const QFont& canvasFont) const;
  mutable std::vector<std::unique_ptr<Measurer>> measurers_;
  const QFontMetricsF* fm_ = nullptr;
  TLineSpacing lineSpacing_ = lsSingleSpace;
  std::string tableFormat_, headerFormat_, footerFormat_, friendlyHeader_, friendlyFooter_;
  struct ParsedFormat {
    std::string Text;
    char Separator;
    double DefaultWidth;
    std::vector<CellFormat> Cells;
  };
  std::optional<ParsedFormat> parsedFormat_;
  double margins_[4] = {0, 0, 0, 0};  // top, bottom, left, right
  TMeasureUnit unit_ = muInches;
  bool printToFile_ = false;
  std::string fileName_;
  int copies_ = 1;
  std::unique_ptr<StringList> lines_;

  std::shared_ptr<TPageList> pages_;
  int curFont_ = -1;
  int recordDpiX_ = 600, recordDpiY_ = 600;  // the resolution the pages were recorded at
  int pageNumber_ = 0;
  int x_ = 0, y_ = 0, lineNumber_ = 0, lineHeight_ = 0;
  bool recording_ = false, printing_ = false, headerMode_ = false, suspendAuto_ = false;
  std::unique_ptr<QSaveFile> file_;
  int fileCol_ = 0;
  // The last horizontal grid line of a table row on this page: y and its segments.
  std::optional<std::pair<int, std::vector<std::pair<int, int>>>> lastRowLine_;

  int zoom_ = 25;
  int shadowOffset_ = 5;
  QWidget* box_ = nullptr;
  int firstPage_ = 0, lastPage_ = 0;
  bool cancel_ = false;
  TPPPrnPrgDlg* progress_ = nullptr;  // a child of the window printed from
};

// The order pages are sent in: collated, each copy runs through the range; otherwise each page
// is repeated for every copy. Pages are numbered from 1.
std::vector<int> PrintOrder(int first, int last, int copies, bool collate);
// The progress dialog's page text.
std::string ProgressPageText(int page, int firstPage, int lastPage, int copies);
