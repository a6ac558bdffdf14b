#include "check/ui/SettingsSheet.h"

#include <QPainter>
#include <QPdfWriter>
#include <QRectF>
#include <QString>

#include <algorithm>
#include <vector>

#include "check/SettingsCheck.h"
#include "check/ui/SheetPainter.h"

namespace kestrel {

namespace {

using namespace pdf;

constexpr double kUirRowH = 5.0;
constexpr double kUirHeadH = 10.0;  // two header rows

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
        const int firstRows = static_cast<int>((kBottom - FirstTableTop() - kUirHeadH) / kUirRowH + 1e-9);
        const int nextRows = static_cast<int>((kBottom - NextTableTop() - kUirHeadH) / kUirRowH + 1e-9);
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
                        Font(8), Qt::AlignCenter);
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
                Font(15, true));
        const TCbSettings& c = d_.Settings;
        // The block's name is what the sheet is filed under.
        s_.Text(QRectF(kLeft, kTop + 9, kRight - kLeft - 53, 7),
                QStringLiteral("ЦБ №%1 «%2»").arg(d_.BlockNumber).arg(W(c.Name)), Font(12, true));
        const std::vector<std::pair<QString, QString>> lines = {
            {QStringLiteral("Установка (файл конфигурации):"), Q(d_.Installation)},
            {QStringLiteral("Сетевой адрес:"), QString::number(c.Address)},
            {QStringLiteral("Скорость обмена:"), QStringLiteral("%1 бит/с").arg(c.Baud)},
            {QStringLiteral("Настройки:"), Q(d_.Source)},
            {QStringLiteral("Время чтения (ПК):"), Q(d_.ReadAt)},
            {QStringLiteral("Версия программы:"), Q(d_.Version)},
        };
        InfoLines(s_, kLeft, kTop + 18, lines);
        FingerprintBox(s_, QRectF(kRight - 50, kTop + 14, 50, 26), Q(d_.Fingerprint));
    }

    void Tables()
    {
        const double top = kTop + 55;
        FunctionTables(s_, d_.Settings, top);
        const double y = top + kTablesH + 4;
        const TCbSettings& c = d_.Settings;
        s_.Text(QRectF(kLeft, y, 60, 6), QStringLiteral("Время УРОВ: %1 мс").arg(c.UrovTimeMs), Font(10, true));
        s_.Text(QRectF(kLeft + 62, y, 80, 6),
                QStringLiteral("МТЗ: %1").arg(c.MtzWait ? QStringLiteral("ждать") : QStringLiteral("не ждать")),
                Font(10, true));
    }

    void ContinuedHeader()
    {
        s_.Text(QRectF(kLeft, kTop, kRight - kLeft, 7),
                QStringLiteral("Лист настроек ЦБ №%1 «%2» — продолжение").arg(d_.BlockNumber).arg(W(d_.Settings.Name)),
                Font(11, true));
    }

    void UirHeader(double y, bool first)
    {
        if (first) {
            s_.Text(QRectF(kLeft, y - 8, kRight - kLeft, 6),
                    QStringLiteral("Конфигурация УИР (подключено: %1)").arg(uirs_.size()), Font(10, true));
        }
        const QColor fill(225, 225, 225);
        const double half = kUirHeadH / 2;
        double x = kLeft;
        const auto whole = [&](const QString& t, double w) {
            s_.Frame(QRectF(x, y, w, kUirHeadH), fill);
            s_.Text(QRectF(x, y, w, kUirHeadH), t, Font(7, true), Qt::AlignCenter);
            x += w;
        };
        whole(QStringLiteral("№"), kNoW);
        whole(QStringLiteral("Название"), kNameW);
        whole(QStringLiteral("Опрос"), kFlagW);
        whole(QStringLiteral("Выход"), kFlagW);
        for (int in = 1; in <= 3; ++in) {
            s_.Frame(QRectF(x, y, kInputW, half), fill);
            s_.Text(QRectF(x, y, kInputW, half), QStringLiteral("Вход %1").arg(in), Font(7.5, true),
                    Qt::AlignCenter);
            const std::pair<QString, double> sub[3] = {
                {QStringLiteral("Канал"), kChanW}, {QStringLiteral("Контроль"), kCtrlW}, {QStringLiteral("Функция"), kFuncW}};
            double sx = x;
            for (const auto& [t, w] : sub) {
                s_.Frame(QRectF(sx, y + half, w, half), fill);
                s_.Text(QRectF(sx, y + half, w, half), t, Font(6.5, true), Qt::AlignCenter);
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
            s_.Text(QRectF(x, y, w, kUirRowH), t, Font(7.5, bold), align | Qt::AlignVCenter);
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
        pdf::Footer(s_, QStringLiteral("ЦБ №%1 «%2», отпечаток %3, %4")
                            .arg(d_.BlockNumber)
                            .arg(W(d_.Settings.Name), Q(d_.Fingerprint), Q(d_.ReadAt)),
                    page, pages_);
    }

    QPdfWriter& writer_;
    TPainter s_;
    const TSheetData& d_;
    std::vector<int> uirs_;
    int firstRows_ = 0, nextRows_ = 1, pages_ = 1;
};

}  // namespace

bool WriteSettingsSheet(const std::string& pdfPath, const TSheetData& d, std::string& error)
{
    return WritePdf(
        pdfPath, QStringLiteral("Лист настроек ЦБ №%1").arg(d.BlockNumber), d.Version,
        [&](QPdfWriter& writer, QPainter& painter) { SheetWriter(writer, painter, d).Write(); }, error);
}

}  // namespace kestrel
