#include "check/ui/SettingsSheet.h"

#include <QByteArray>
#include <QFile>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QRectF>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <algorithm>
#include <vector>

#include "check/SettingsCheck.h"
#include "state/Cp1251.h"
#include "state/FileIo.h"

namespace kestrel {

namespace {

// Layout in millimetres on A4 portrait; the painter works in device dots.
constexpr int kDpi = 600;
constexpr double kPageW = 210.0, kPageH = 297.0;
constexpr double kLeft = 15.0, kRight = kPageW - 15.0, kTop = 14.0;
constexpr double kFooterY = kPageH - 14.0;  // top of the footer line
constexpr double kTableBottom = kFooterY - 4.0;
constexpr double kUirRowH = 5.0;
constexpr double kUirHeadH = 10.0;  // two header rows
constexpr double kMinFontPt = 6.5;
constexpr double kTwoLineFontPt = 5.5;

QString Q(const std::string& utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }
QString W(const Text& cp1251) { return Q(Cp1251ToUtf8(cp1251)); }

QString SheetPath(const std::string& pathUtf8)
{
    const std::filesystem::path native = NativePath(pathUtf8);
#ifdef _WIN32
    return QString::fromStdWString(native.wstring());
#else
    return QFile::decodeName(QByteArray::fromStdString(native.string()));
#endif
}

QFont SheetFont(double pt, bool bold = false)
{
    QFont f;
    // DejaVu on Linux (and in the Wine runs); Windows has Cyrillic in Arial.
    f.setFamilies({QStringLiteral("DejaVu Sans"), QStringLiteral("Arial"), QStringLiteral("Segoe UI")});
    f.setPointSizeF(pt);
    f.setBold(bold);
    return f;
}

class Sheet {
public:
    explicit Sheet(QPainter& p) : p_(p) {}

    double D(double mm) const { return mm * kDpi / 25.4; }
    QRectF R(double x, double y, double w, double h) const { return QRectF(D(x), D(y), D(w), D(h)); }

    // The text inside the box: a smaller font when it is too wide, then two
    // lines where the box has room for them, elided only when even that
    // would not fit. Names are the operator's own and may be long.
    void Text(const QRectF& mmBox, const QString& text, QFont font, int align = Qt::AlignLeft | Qt::AlignVCenter,
              const QColor& color = Qt::black)
    {
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

    void Frame(const QRectF& mmBox, const QColor& fill = Qt::transparent, double penMm = 0.2)
    {
        p_.setPen(QPen(Qt::black, D(penMm)));
        p_.setBrush(fill);
        p_.drawRect(R(mmBox.x(), mmBox.y(), mmBox.width(), mmBox.height()));
        p_.setBrush(Qt::NoBrush);
    }

    QPainter& p_;
    static constexpr double kPad = 0.8;
};

// The UIR table's columns, left to right (mm).
constexpr double kNoW = 7, kNameW = 27, kFlagW = 10, kChanW = 17, kCtrlW = 13, kFuncW = 12;
constexpr double kInputW = kChanW + kCtrlW + kFuncW;

QString YesNo(uint8_t v) { return v ? QStringLiteral("да") : QStringLiteral("нет"); }

class SheetWriter {
public:
    SheetWriter(QPdfWriter& writer, QPainter& p, const TSheetData& d) : writer_(writer), s_(p), d_(d)
    {
        for (int i = 0; i < kUirCount; ++i)
            if (d.Settings.Uir[i].Present)
                uirs_.push_back(i);
        const int firstRows = static_cast<int>((kTableBottom - FirstTableTop() - kUirHeadH) / kUirRowH + 1e-9);
        const int nextRows = static_cast<int>((kTableBottom - NextTableTop() - kUirHeadH) / kUirRowH + 1e-9);
        firstRows_ = firstRows;
        nextRows_ = nextRows;
        const int rest = std::max(0, static_cast<int>(uirs_.size()) - firstRows);
        pages_ = 1 + (rest + nextRows - 1) / nextRows;
    }

    void Write()
    {
        Header();
        Tables();
        size_t next = 0;
        double y = FirstTableTop();
        for (int page = 1; page <= pages_; ++page) {
            if (page > 1) {
                writer_.newPage();
                ContinuedHeader();
                y = NextTableTop();
            }
            const size_t rows = static_cast<size_t>(page == 1 ? firstRows_ : nextRows_);
            UirHeader(y, page == 1);
            y += kUirHeadH;
            if (uirs_.empty() && page == 1) {
                s_.Frame(QRectF(kLeft, y, UirTableWidth(), kUirRowH));
                s_.Text(QRectF(kLeft, y, UirTableWidth(), kUirRowH), QStringLiteral("Нет подключенных УИР"),
                        SheetFont(8), Qt::AlignCenter);
            }
            for (size_t r = 0; r < rows && next < uirs_.size(); ++r, ++next, y += kUirRowH)
                UirRow(y, uirs_[next], next % 2 == 1);
            Footer(page);
        }
    }

private:
    static double FirstTableTop() { return 134.0; }
    static double NextTableTop() { return kTop + 10.0; }
    static double UirTableWidth() { return kNoW + kNameW + 2 * kFlagW + 3 * kInputW; }

    void Header()
    {
        s_.Text(QRectF(kLeft, kTop, kRight - kLeft, 8), QStringLiteral("Лист настроек центрального блока"),
                SheetFont(15, true));
        const TCbSettings& c = d_.Settings;
        // The block's name is what the sheet is filed under.
        s_.Text(QRectF(kLeft, kTop + 9, kRight - kLeft - 53, 7),
                QStringLiteral("ЦБ №%1 «%2»").arg(d_.BlockNumber).arg(W(c.Name)), SheetFont(12, true));
        const std::vector<std::pair<QString, QString>> lines = {
            {QStringLiteral("Установка (файл конфигурации):"), Q(d_.Installation)},
            {QStringLiteral("Сетевой адрес:"), QString::number(c.Address)},
            {QStringLiteral("Скорость обмена:"), QStringLiteral("%1 бит/с").arg(c.Baud)},
            {QStringLiteral("Настройки:"), Q(d_.Source)},
            {QStringLiteral("Время чтения (ПК):"), Q(d_.ReadAt)},
            {QStringLiteral("Версия программы:"), Q(d_.Version)},
        };
        double y = kTop + 18;
        const double labelW = 52, valueW = 72;
        for (const auto& [label, value] : lines) {
            s_.Text(QRectF(kLeft, y, labelW, 5.2), label, SheetFont(9), Qt::AlignLeft | Qt::AlignVCenter,
                    QColor(70, 70, 70));
            s_.Text(QRectF(kLeft + labelW, y, valueW, 5.2), value, SheetFont(9, true));
            y += 5.6;
        }
        // The fingerprint is what the engineer compares with the window's
        // and with the next sheet, so it stands out.
        const QRectF box(kRight - 50, kTop + 14, 50, 26);
        s_.Frame(box, QColor(242, 242, 242), 0.5);
        s_.Text(QRectF(box.x(), box.y() + 2, box.width(), 6), QStringLiteral("Отпечаток настроек"), SheetFont(9),
                Qt::AlignCenter);
        QFont mono = SheetFont(22, true);
        mono.setFamilies({QStringLiteral("DejaVu Sans Mono"), QStringLiteral("Consolas"), QStringLiteral("Courier New")});
        s_.Text(QRectF(box.x(), box.y() + 9, box.width(), 14), Q(d_.Fingerprint), mono, Qt::AlignCenter);
    }

    void Tables()
    {
        const double top = kTop + 55;
        s_.Text(QRectF(kLeft, top, kRight - kLeft, 6),
                QStringLiteral("Таблицы функций: состояния выходных сигналов 1–6 (1 — выход включен)"),
                SheetFont(10, true));
        const double gap = 4, w = (kRight - kLeft - 3 * gap) / 4, labelW = 9, cellW = (w - labelW) / 6, h = 5.5;
        const TDeviceSettings dev = DeviceSettingsOf(d_.Settings);
        for (int m = 0; m < 4; ++m) {
            const double x = kLeft + m * (w + gap);
            double y = top + 8;
            s_.Frame(QRectF(x, y, w, h), QColor(225, 225, 225));
            s_.Text(QRectF(x, y, w, h), Q(ModeName(m)), SheetFont(8.5, true), Qt::AlignCenter);
            y += h;
            s_.Frame(QRectF(x, y, labelW, h), QColor(242, 242, 242));
            for (int port = 1; port <= 6; ++port) {
                const QRectF cell(x + labelW + (port - 1) * cellW, y, cellW, h);
                s_.Frame(cell, QColor(242, 242, 242));
                s_.Text(cell, QString::number(port), SheetFont(7.5), Qt::AlignCenter, QColor(70, 70, 70));
            }
            y += h;
            for (int k = 0; k < 4; ++k, y += h) {
                const QRectF label(x, y, labelW, h);
                s_.Frame(label, QColor(242, 242, 242));
                s_.Text(label, QStringLiteral("F%1").arg(k), SheetFont(8, true), Qt::AlignCenter);
                for (int port = 1; port <= 6; ++port) {
                    const bool on = (dev.FuncTable[k][m] >> (port - 1)) & 1;
                    const QRectF cell(x + labelW + (port - 1) * cellW, y, cellW, h);
                    s_.Frame(cell, on ? QColor(40, 40, 40) : QColor(Qt::white));
                    s_.Text(cell, on ? QStringLiteral("1") : QStringLiteral("0"), SheetFont(8, on), Qt::AlignCenter,
                            on ? QColor(Qt::white) : QColor(150, 150, 150));
                }
            }
        }
        const double y = top + 8 + 6 * h + 4;
        const TCbSettings& c = d_.Settings;
        s_.Text(QRectF(kLeft, y, 60, 6), QStringLiteral("Время УРОВ: %1 мс").arg(c.UrovTimeMs), SheetFont(10, true));
        s_.Text(QRectF(kLeft + 62, y, 80, 6),
                QStringLiteral("МТЗ: %1").arg(c.MtzWait ? QStringLiteral("ждать") : QStringLiteral("не ждать")),
                SheetFont(10, true));
    }

    void ContinuedHeader()
    {
        s_.Text(QRectF(kLeft, kTop, kRight - kLeft, 7),
                QStringLiteral("Лист настроек ЦБ №%1 «%2» — продолжение").arg(d_.BlockNumber).arg(W(d_.Settings.Name)),
                SheetFont(11, true));
    }

    void UirHeader(double y, bool first)
    {
        if (first) {
            s_.Text(QRectF(kLeft, y - 8, kRight - kLeft, 6),
                    QStringLiteral("Конфигурация УИР (подключено: %1)").arg(uirs_.size()), SheetFont(10, true));
        }
        const QColor fill(225, 225, 225);
        const double half = kUirHeadH / 2;
        double x = kLeft;
        const auto whole = [&](const QString& t, double w) {
            s_.Frame(QRectF(x, y, w, kUirHeadH), fill);
            s_.Text(QRectF(x, y, w, kUirHeadH), t, SheetFont(7, true), Qt::AlignCenter);
            x += w;
        };
        whole(QStringLiteral("№"), kNoW);
        whole(QStringLiteral("Название"), kNameW);
        whole(QStringLiteral("Опрос"), kFlagW);
        whole(QStringLiteral("Выход"), kFlagW);
        for (int in = 1; in <= 3; ++in) {
            s_.Frame(QRectF(x, y, kInputW, half), fill);
            s_.Text(QRectF(x, y, kInputW, half), QStringLiteral("Вход %1").arg(in), SheetFont(7.5, true),
                    Qt::AlignCenter);
            const std::pair<QString, double> sub[3] = {
                {QStringLiteral("Канал"), kChanW}, {QStringLiteral("Контроль"), kCtrlW}, {QStringLiteral("Функция"), kFuncW}};
            double sx = x;
            for (const auto& [t, w] : sub) {
                s_.Frame(QRectF(sx, y + half, w, half), fill);
                s_.Text(QRectF(sx, y + half, w, half), t, SheetFont(6.5, true), Qt::AlignCenter);
                sx += w;
            }
            x += kInputW;
        }
    }

    void UirRow(double y, int i, bool shaded)
    {
        const TUirSettings& u = d_.Settings.Uir[i];
        const QColor fill = shaded ? QColor(246, 246, 246) : QColor(Qt::white);
        double x = kLeft;
        const auto cell = [&](const QString& t, double w, int align, bool bold = false) {
            s_.Frame(QRectF(x, y, w, kUirRowH), fill, 0.15);
            s_.Text(QRectF(x, y, w, kUirRowH), t, SheetFont(7.5, bold), align | Qt::AlignVCenter);
            x += w;
        };
        cell(QString::number(i + 1), kNoW, Qt::AlignHCenter, true);
        cell(W(u.Name), kNameW, Qt::AlignLeft);
        cell(YesNo(u.PollEnabled), kFlagW, Qt::AlignHCenter);
        cell(YesNo(u.OutputEnabled), kFlagW, Qt::AlignHCenter);
        const Text* names[3] = {&u.ChName1, &u.ChName2, &u.ChName3};
        const uint8_t ctrl[3] = {u.InputControl1, u.InputControl2, u.InputControl3};
        const uint8_t func[3] = {u.InputFunction1, u.InputFunction2, u.InputFunction3};
        for (int in = 0; in < 3; ++in) {
            cell(W(*names[in]), kChanW, Qt::AlignLeft);
            cell(YesNo(ctrl[in]), kCtrlW, Qt::AlignHCenter);
            cell(QStringLiteral("F%1").arg(func[in]), kFuncW, Qt::AlignHCenter, true);
        }
    }

    void Footer(int page)
    {
        const QPen line(QColor(120, 120, 120), s_.D(0.2));
        s_.p_.setPen(line);
        s_.p_.drawLine(QPointF(s_.D(kLeft), s_.D(kFooterY)), QPointF(s_.D(kRight), s_.D(kFooterY)));
        const QString left = QStringLiteral("ЦБ №%1 «%2», отпечаток %3, %4")
                                 .arg(d_.BlockNumber)
                                 .arg(W(d_.Settings.Name), Q(d_.Fingerprint), Q(d_.ReadAt));
        s_.Text(QRectF(kLeft, kFooterY + 1, 140, 5), left, SheetFont(7.5), Qt::AlignLeft | Qt::AlignVCenter,
                QColor(70, 70, 70));
        s_.Text(QRectF(kRight - 35, kFooterY + 1, 35, 5), QStringLiteral("Лист %1 из %2").arg(page).arg(pages_),
                SheetFont(8, true), Qt::AlignRight | Qt::AlignVCenter);
    }

    QPdfWriter& writer_;
    Sheet s_;
    const TSheetData& d_;
    std::vector<int> uirs_;
    int firstRows_ = 0, nextRows_ = 1, pages_ = 1;
};

}  // namespace

bool WriteSettingsSheet(const std::string& pdfPath, const TSheetData& d, std::string& error)
{
    if (!PathKeptWhole(pdfPath)) {
        error = "the file name cannot be used: " + pdfPath;
        return false;
    }
    // Opened before anything is painted: QPdfWriter only warns about a file
    // it cannot open. Written beside and renamed, so a failed sheet never
    // replaces an earlier one.
    QSaveFile file(SheetPath(pdfPath));
    if (!file.open(QIODevice::WriteOnly)) {
        error = "cannot open the file for writing: " + file.errorString().toStdString();
        return false;
    }
    {
        QPdfWriter writer(&file);
        writer.setResolution(kDpi);
        writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
        writer.setTitle(QStringLiteral("Лист настроек ЦБ №%1").arg(d.BlockNumber));
        writer.setCreator(QStringLiteral("Kestrel %1").arg(Q(d.Version)));
        QPainter painter;
        if (!painter.begin(&writer)) {
            file.cancelWriting();
            error = "cannot start the PDF";
            return false;
        }
        SheetWriter(writer, painter, d).Write();
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

}  // namespace kestrel
