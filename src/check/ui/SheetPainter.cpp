#include "check/ui/SheetPainter.h"

#include <QByteArray>
#include <QFile>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <filesystem>

#include "check/SettingsCheck.h"
#include "state/Cp1251.h"
#include "state/FileIo.h"

namespace kestrel::pdf {

QString Q(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }
QString W(const Text& cp1251) { return Q(Cp1251ToUtf8(cp1251)); }

QFont Font(double pt, bool bold)
{
    QFont f;
    // DejaVu on Linux (and in the Wine runs); Windows has Cyrillic in Arial.
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Arial"), QStringLiteral("Segoe UI")});
    f.setPointSizeF(pt);
    f.setBold(bold);
    return f;
}

QFont MonoFont(double pt, bool bold)
{
    QFont f = Font(pt, bold);
    f.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Consolas"), QStringLiteral("Courier New")});
    return f;
}

void TPainter::Text(const QRectF& mmBox, const QString& text, QFont font, int align, const QColor& color)
{
    if (Dry)
        return;
    const QRectF box = R(mmBox.x() + kPad, mmBox.y(), mmBox.width() - 2 * kPad, mmBox.height());
    const double smallest = std::min(font.pointSizeF(), kMinFontPt);
    p_.setPen(color);
    for (;;) {
        const QFontMetricsF fm(font, p_.device());
        if (fm.horizontalAdvance(text) <= box.width())
            break;
        if (font.pointSizeF() - 0.5 >= smallest) {
            font.setPointSizeF(font.pointSizeF() - 0.5);
            continue;
        }
        QFont two = font;
        two.setPointSizeF(std::min(font.pointSizeF(), kTwoLineFontPt));
        const QFontMetricsF fm2(two, p_.device());
        const int wrap = Qt::TextWordWrap | (align & Qt::AlignHorizontal_Mask) | Qt::AlignVCenter;
        const QRectF need = fm2.boundingRect(box, wrap, text);
        if (need.height() <= box.height() && need.width() <= box.width()) {
            p_.setFont(two);
            p_.drawText(box, wrap, text);
            return;
        }
        p_.setFont(font);
        p_.drawText(box, align | Qt::TextSingleLine, fm.elidedText(text, Qt::ElideRight, box.width()));
        return;
    }
    p_.setFont(font);
    p_.drawText(box, align | Qt::TextSingleLine, text);
}

void TPainter::Frame(const QRectF& mmBox, const QColor& fill, double penMm)
{
    if (Dry)
        return;
    p_.setPen(QPen(Qt::black, D(penMm)));
    p_.setBrush(fill);
    p_.drawRect(R(mmBox.x(), mmBox.y(), mmBox.width(), mmBox.height()));
    p_.setBrush(Qt::NoBrush);
}

void TPainter::Line(double x0, double y0, double x1, double y1, const QColor& color, double penMm)
{
    if (Dry)
        return;
    p_.setPen(QPen(color, D(penMm)));
    p_.drawLine(QPointF(D(x0), D(y0)), QPointF(D(x1), D(y1)));
}

void FunctionTables(TPainter& s, const TCbSettings& settings, double top)
{
    s.Text(QRectF(kLeft, top, kRight - kLeft, 6),
           QStringLiteral("Таблицы функций: состояния выходных сигналов 1–6 (1 — выход включен)"), Font(10, true));
    const double gap = 4, w = (kRight - kLeft - 3 * gap) / 4, labelW = 9, cellW = (w - labelW) / 6, h = 5.5;
    const TDeviceSettings dev = DeviceSettingsOf(settings);
    for (int m = 0; m < 4; ++m) {
        const double x = kLeft + m * (w + gap);
        double y = top + 8;
        s.Frame(QRectF(x, y, w, h), QColor(225, 225, 225));
        s.Text(QRectF(x, y, w, h), Q(ModeName(m)), Font(8.5, true), Qt::AlignCenter);
        y += h;
        s.Frame(QRectF(x, y, labelW, h), QColor(242, 242, 242));
        for (int port = 1; port <= 6; ++port) {
            const QRectF cell(x + labelW + (port - 1) * cellW, y, cellW, h);
            s.Frame(cell, QColor(242, 242, 242));
            s.Text(cell, QString::number(port), Font(7.5), Qt::AlignCenter, QColor(70, 70, 70));
        }
        y += h;
        for (int k = 0; k < 4; ++k, y += h) {
            const QRectF label(x, y, labelW, h);
            s.Frame(label, QColor(242, 242, 242));
            s.Text(label, QStringLiteral("F%1").arg(k), Font(8, true), Qt::AlignCenter);
            for (int port = 1; port <= 6; ++port) {
                const bool on = (dev.FuncTable[k][m] >> (port - 1)) & 1;
                const QRectF cell(x + labelW + (port - 1) * cellW, y, cellW, h);
                s.Frame(cell, on ? QColor(40, 40, 40) : QColor(Qt::white));
                s.Text(cell, on ? QStringLiteral("1") : QStringLiteral("0"), Font(8, on), Qt::AlignCenter,
                       on ? QColor(Qt::white) : QColor(150, 150, 150));
            }
        }
    }
}

void InfoLines(TPainter& s, double x, double y, const std::vector<std::pair<QString, QString>>& lines, double labelW,
               double valueW)
{
    for (const auto& [label, value] : lines) {
        s.Text(QRectF(x, y, labelW, 5.2), label, Font(9), Qt::AlignLeft | Qt::AlignVCenter, QColor(70, 70, 70));
        s.Text(QRectF(x + labelW, y, valueW, 5.2), value, Font(9, true));
        y += 5.6;
    }
}

void FingerprintBox(TPainter& s, const QRectF& box, const QString& fingerprint)
{
    s.Frame(box, QColor(242, 242, 242), 0.5);
    s.Text(QRectF(box.x(), box.y() + 2, box.width(), 6), QStringLiteral("Отпечаток настроек"), Font(9),
           Qt::AlignCenter);
    s.Text(QRectF(box.x(), box.y() + 9, box.width(), 14), fingerprint, MonoFont(22), Qt::AlignCenter);
}

void Footer(TPainter& s, const QString& left, int page, int pages)
{
    s.Line(kLeft, kFooterY, kRight, kFooterY);
    s.Text(QRectF(kLeft, kFooterY + 1, 140, 5), left, Font(7.5), Qt::AlignLeft | Qt::AlignVCenter, QColor(70, 70, 70));
    s.Text(QRectF(kRight - 35, kFooterY + 1, 35, 5), QStringLiteral("Лист %1 из %2").arg(page).arg(pages),
           Font(8, true), Qt::AlignRight | Qt::AlignVCenter);
}

namespace {

QString NativeName(const std::string& pathUtf8)
{
    const std::filesystem::path native = NativePath(pathUtf8);
#ifdef _WIN32
    return QString::fromStdWString(native.wstring());
#else
    return QFile::decodeName(QByteArray::fromStdString(native.string()));
#endif
}

}  // namespace

bool WritePdf(const std::string& pathUtf8, const QString& title, const std::string& version,
              const std::function<void(QPdfWriter&, QPainter&)>& paint, std::string& error)
{
    if (!PathKeptWhole(pathUtf8)) {
        error = "the file name cannot be used: " + pathUtf8;
        return false;
    }
    // Written beside and renamed, so a failed PDF never replaces an earlier one.
    QSaveFile file(NativeName(pathUtf8));
    if (!file.open(QIODevice::WriteOnly)) {
        error = "cannot open the file for writing: " + file.errorString().toStdString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setResolution(kDpi);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        writer.setTitle(title);
        writer.setCreator(QStringLiteral("Kestrel %1").arg(Q(version)));
        QPainter painter;
        if (!painter.begin(&writer)) {
            file.cancelWriting();
            error = "cannot start the PDF";
            return false;
        }
        paint(writer, painter);
        if (!painter.end()) {
            file.cancelWriting();
            error = "the PDF could not be finished";
            return false;
        }
    }
    if (!file.commit()) {
        error = "cannot write the file: " + file.errorString().toStdString();
        return false;
    }
    return true;
}

}  // namespace kestrel::pdf
