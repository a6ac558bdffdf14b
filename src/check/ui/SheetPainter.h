#pragma once
// What the printed pages share (the settings sheet, the walk-test
// certificate): A4 portrait in millimetres, the fonts, text that shrinks
// before it spills, the four function tables, the fingerprint box, the
// footer and a PDF that never half replaces an earlier one.
#include <QColor>
#include <QFont>
#include <QRectF>
#include <QString>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "state/Model.h"

class QPainter;
class QPdfWriter;

namespace kestrel::pdf {

constexpr int kDpi = 600;
constexpr double kPageW = 210.0, kPageH = 297.0;
constexpr double kLeft = 15.0, kRight = kPageW - 15.0, kTop = 14.0;
constexpr double kFooterY = kPageH - 14.0;  // top of the footer line
constexpr double kBottom = kFooterY - 4.0;  // where the content ends
constexpr double kMinFontPt = 6.5;
constexpr double kTwoLineFontPt = 5.5;
// The function tables' block: heading, the four tables (and nothing below).
constexpr double kTablesH = 8 + 6 * 5.5;

QString Q(const std::string& utf8);
QString W(const Text& cp1251);
QFont Font(double pt, bool bold = false);
QFont MonoFont(double pt, bool bold = true);

class TPainter {
public:
    explicit TPainter(QPainter& p) : p_(p) {}

    double D(double mm) const { return mm * kDpi / 25.4; }
    QRectF R(double x, double y, double w, double h) const { return QRectF(D(x), D(y), D(w), D(h)); }

    // The text inside the box (mm): a smaller font when it is too wide, then
    // two lines where the box has room for them, elided only when even that
    // would not fit. Names are the operator's own and may be long.
    void Text(const QRectF& mmBox, const QString& text, QFont font, int align = Qt::AlignLeft | Qt::AlignVCenter,
              const QColor& color = Qt::black);
    void Frame(const QRectF& mmBox, const QColor& fill = Qt::transparent, double penMm = 0.2);
    void Line(double x0, double y0, double x1, double y1, const QColor& color = QColor(120, 120, 120),
              double penMm = 0.2);

    QPainter& Painter() { return p_; }

    // Measures without painting: a writer's first pass counts its pages.
    bool Dry = false;

private:
    QPainter& p_;
    static constexpr double kPad = 0.8;
};

// The four function tables side by side, as the block setup window shows
// them, under their heading at top; kTablesH tall.
void FunctionTables(TPainter& s, const TCbSettings& settings, double top);
// Label and value lines from (x, y), 5.6 mm apart.
void InfoLines(TPainter& s, double x, double y, const std::vector<std::pair<QString, QString>>& lines,
               double labelW = 52, double valueW = 72);
// The fingerprint the engineer compares with the window's, standing out.
void FingerprintBox(TPainter& s, const QRectF& mmBox, const QString& fingerprint);
void Footer(TPainter& s, const QString& left, int page, int pages);

// Opens the file before anything is painted (QPdfWriter only warns about a
// file it cannot open), paints, and renames it into place. false with the
// reason (UTF-8).
bool WritePdf(const std::string& pathUtf8, const QString& title, const std::string& version,
              const std::function<void(QPdfWriter&, QPainter&)>& paint, std::string& error);

}  // namespace kestrel::pdf
