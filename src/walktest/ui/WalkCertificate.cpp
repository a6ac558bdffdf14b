#include "walktest/ui/WalkCertificate.h"

#include <QPainter>
#include <QPdfWriter>
#include <QRectF>
#include <QString>
#include <QStringList>

#include <vector>

#include "check/ui/SheetPainter.h"

namespace kestrel {

namespace {

using namespace pdf;

constexpr double kRowH = 5.0;
constexpr double kHeadH = 10.0;  // two header rows
constexpr double kNextTop = kTop + 10.0;
// The matrix's columns (mm): number and name, then for each input its
// verdict, time and the outputs expected and reported.
constexpr double kNoW = 7, kNameW = 21, kVerdictW = 19, kTimeW = 13.2, kOutW = 9.2;
constexpr double kInputW = kVerdictW + kTimeW + 2 * kOutW;
constexpr double kMatrixW = kNoW + kNameW + 3 * kInputW;
constexpr double kRemarkH = 5.0;
constexpr double kSignaturesH = 42.0;

const QString kFaultMark = QStringLiteral("⚠");

QString OutputsOf(uint8_t b)
{
    QStringList s;
    for (int p = 1; p <= 6; ++p)
        if ((b >> (p - 1)) & 1)
            s << QString::number(p);
    return s.isEmpty() ? QStringLiteral("нет") : s.join(QStringLiteral(", "));
}

QString Where(int uir, int input) { return QStringLiteral("УИР %1, вход %2").arg(uir).arg(input); }

class CertificateWriter {
public:
    CertificateWriter(QPdfWriter& writer, QPainter& p, const TWalkTest& t, const TCertificateData& d)
        : writer_(writer), s_(p), t_(t), d_(d)
    {
        for (int i = 0; i < kUirCount; ++i)
            if (t.Settings().Uir[i].Present)
                uirs_.push_back(i + 1);
        Remarks();
    }

    void Write()
    {
        // The first pass only counts the pages, so each footer can say "of Y".
        s_.Dry = true;
        Pages();
        pages_ = page_;
        s_.Dry = false;
        Pages();
    }

private:
    void Pages()
    {
        page_ = 1;
        Header();
        const double tablesTop = kTop + 50;
        FunctionTables(s_, t_.Settings(), tablesTop);
        y_ = tablesTop + kTablesH + 5;
        Matrix();
        RemarksSection();
        Summary();
        Signatures();
        PageFooter();
    }

    // A new page when h more millimetres do not fit on this one.
    bool Need(double h)
    {
        if (y_ + h <= kBottom)
            return false;
        PageFooter();
        if (!s_.Dry)
            writer_.newPage();
        ++page_;
        s_.Text(QRectF(kLeft, kTop, kRight - kLeft, 7),
                QStringLiteral("Протокол проверки ЦБ №%1 «%2» — продолжение").arg(t_.BlockNumber()).arg(Name()),
                Font(11, true));
        y_ = kNextTop;
        return true;
    }

    QString Name() const { return W(t_.Settings().Name); }

    void Header()
    {
        s_.Text(QRectF(kLeft, kTop, kRight - kLeft, 8), QStringLiteral("Протокол проверки датчиков дуговой защиты"),
                Font(15, true));
        s_.Text(QRectF(kLeft, kTop + 9, kRight - kLeft - 53, 7),
                QStringLiteral("ЦБ №%1 «%2»").arg(t_.BlockNumber()).arg(Name()), Font(12, true));
        const QString installation = d_.Installation.empty() ? QStringLiteral("—") : Q(d_.Installation);
        InfoLines(s_, kLeft, kTop + 18,
                  {
                      {QStringLiteral("Установка:"), installation},
                      {QStringLiteral("Сетевой адрес ЦБ:"), QString::number(t_.Settings().Address)},
                      {QStringLiteral("Начало проверки (ПК):"), Q(TWalkTest::PcTimeText(t_.StartMs()))},
                      {QStringLiteral("Окончание проверки (ПК):"),
                       t_.EndMs() ? Q(TWalkTest::PcTimeText(t_.EndMs())) : QStringLiteral("не завершена")},
                      {QStringLiteral("Версия программы:"), Q(d_.Version)},
                  });
        FingerprintBox(s_, QRectF(kRight - 50, kTop + 14, 50, 26), Q(t_.Fingerprint()));
    }

    void MatrixHeader()
    {
        const QColor fill(225, 225, 225);
        const double half = kHeadH / 2;
        double x = kLeft;
        for (const auto& [t, w] :
             {std::pair{QStringLiteral("УИР"), kNoW}, std::pair{QStringLiteral("Название"), kNameW}}) {
            s_.Frame(QRectF(x, y_, w, kHeadH), fill);
            s_.Text(QRectF(x, y_, w, kHeadH), t, Font(7, true), Qt::AlignCenter);
            x += w;
        }
        for (int in = 1; in <= 3; ++in) {
            s_.Frame(QRectF(x, y_, kInputW, half), fill);
            s_.Text(QRectF(x, y_, kInputW, half), QStringLiteral("Вход %1").arg(in), Font(7.5, true), Qt::AlignCenter);
            double sx = x;
            for (const auto& [t, w] :
                 {std::pair{QStringLiteral("Результат"), kVerdictW}, std::pair{QStringLiteral("Время"), kTimeW},
                  std::pair{QStringLiteral("Табл."), kOutW}, std::pair{QStringLiteral("ЦБ"), kOutW}}) {
                s_.Frame(QRectF(sx, y_ + half, w, half), fill);
                s_.Text(QRectF(sx, y_ + half, w, half), t, Font(6.5, true), Qt::AlignCenter);
                sx += w;
            }
            x += kInputW;
        }
        y_ += kHeadH;
    }

    // The time of the arc; the date only when it is not the test's first day.
    QString TimeOf(const TInputResult& r) const
    {
        const std::string at = TWalkTest::PcTimeText(r.PcMs), start = TWalkTest::PcTimeText(t_.StartMs());
        return Q(at.compare(0, 10, start, 0, 10) == 0 ? at.substr(11) : at);
    }

    void Row(int uir, bool shaded)
    {
        const QColor plain = shaded ? QColor(246, 246, 246) : QColor(Qt::white);
        double x = kLeft;
        const auto cell = [&](const QString& text, double w, const QFont& f, const QColor& fill = QColor(),
                              const QColor& ink = Qt::black, int align = Qt::AlignHCenter) {
            s_.Frame(QRectF(x, y_, w, kRowH), fill.isValid() ? fill : plain, 0.15);
            s_.Text(QRectF(x, y_, w, kRowH), text, f, align | Qt::AlignVCenter, ink);
            x += w;
        };
        cell(QString::number(uir), kNoW, Font(7.5, true));
        cell(W(t_.Settings().Uir[uir - 1].Name), kNameW, Font(7.5), QColor(), Qt::black, Qt::AlignLeft);
        for (int in = 1; in <= 3; ++in) {
            const TInputResult& r = t_.Result(uir, in);
            const QString mark = r.Fault ? QStringLiteral(" ") + kFaultMark : QString();
            if (!r.Monitored && r.Verdict != TInputVerdict::Failed) {
                cell(QStringLiteral("не контролируется") + mark, kInputW, Font(7), QColor(), QColor(110, 110, 110));
                continue;
            }
            const bool tested = r.Verdict != TInputVerdict::Untested;
            if (r.Verdict == TInputVerdict::Passed)
                cell(QStringLiteral("норма") + mark, kVerdictW, Font(7.5), r.Fault ? QColor(255, 225, 225) : QColor());
            else if (r.Verdict == TInputVerdict::Failed)
                cell(QStringLiteral("ошибка") + mark, kVerdictW, Font(7.5, true), QColor(255, 215, 215),
                     QColor(150, 0, 0));
            else
                cell(QStringLiteral("не проверен") + mark, kVerdictW, Font(7.5), QColor(255, 240, 190));
            const QString none = QStringLiteral("—");
            cell(tested ? TimeOf(r) : none, kTimeW, Font(7.5));
            cell(tested ? OutputsOf(r.Predicted) : none, kOutW, Font(7.5));
            cell(r.HaveReported ? OutputsOf(r.Reported) : none, kOutW,
                 Font(7.5, r.HaveReported && r.Reported != r.Predicted));
        }
        y_ += kRowH;
    }

    void Matrix()
    {
        const TWalkSummary sum = t_.Summary();
        Need(7 + kHeadH + kRowH);
        s_.Text(QRectF(kLeft, y_, kRight - kLeft, 6),
                QStringLiteral("Результаты проверки (УИР: %1, контролируемых входов: %2)")
                    .arg(uirs_.size())
                    .arg(sum.Monitored),
                Font(10, true));
        y_ += 7;
        MatrixHeader();
        if (uirs_.empty()) {
            s_.Frame(QRectF(kLeft, y_, kMatrixW, kRowH));
            s_.Text(QRectF(kLeft, y_, kMatrixW, kRowH), QStringLiteral("Нет подключенных УИР"), Font(8),
                    Qt::AlignCenter);
            y_ += kRowH;
        }
        for (size_t i = 0; i < uirs_.size(); ++i) {
            if (Need(kRowH))
                MatrixHeader();
            Row(uirs_[i], i % 2 == 1);
        }
        const QString legend[2] = {
            QStringLiteral("Время — по часам ПК. Табл. — выходы, которые дают таблицы функций (с уже включенными); "
                           "ЦБ — выходы, о которых сообщил ЦБ."),
            QStringLiteral("%1 — ЦБ сообщил о неисправности датчика или о потере связи с УИР во время проверки.")
                .arg(kFaultMark)};
        Need(10);
        for (const QString& line : legend) {
            s_.Text(QRectF(kLeft, y_ + 1, kRight - kLeft, 4), line, Font(7), Qt::AlignLeft | Qt::AlignVCenter,
                    QColor(70, 70, 70));
            y_ += 4;
        }
        y_ += 3;
    }

    // The remarks, in UIR and input order: failures with their reasons, the
    // faults, the monitored inputs never flashed.
    void Remarks()
    {
        for (int u = 1; u <= kUirCount; ++u)
            for (int in = 1; in <= 3; ++in) {
                const TInputResult& r = t_.Result(u, in);
                if (r.Verdict == TInputVerdict::Failed)
                    remarks_ << Where(u, in) + QStringLiteral(": ошибка, ") + Q(r.Reason);
                else if (r.Monitored && r.Verdict == TInputVerdict::Untested)
                    remarks_ << Where(u, in) + QStringLiteral(": не проверен");
                if (r.Fault)
                    remarks_ << Where(u, in) + QStringLiteral(": неисправность датчика или нет связи с УИР");
            }
    }

    void RemarksSection()
    {
        Need(8 + kRemarkH);
        s_.Text(QRectF(kLeft, y_, kRight - kLeft, 6), QStringLiteral("Замечания"), Font(10, true));
        y_ += 7;
        if (remarks_.isEmpty()) {
            s_.Text(QRectF(kLeft + 4, y_, kRight - kLeft - 4, kRemarkH), QStringLiteral("нет"), Font(9));
            y_ += kRemarkH;
        }
        for (int i = 0; i < remarks_.size(); ++i) {
            Need(kRemarkH);
            s_.Text(QRectF(kLeft + 4, y_, kRight - kLeft - 4, kRemarkH),
                    QStringLiteral("%1. %2").arg(i + 1).arg(remarks_[i]), Font(9));
            y_ += kRemarkH;
        }
        y_ += 3;
    }

    void Summary()
    {
        const TWalkSummary s = t_.Summary();
        Need(14);
        QString line = QStringLiteral("Итого из %1 контролируемых входов: норма — %2, ошибка — %3, не проверено — %4")
                           .arg(s.Monitored)
                           .arg(s.Passed)
                           .arg(s.Failed)
                           .arg(s.Untested);
        if (s.Faults)
            line += QStringLiteral(", неисправности — %1").arg(s.Faults);
        s_.Text(QRectF(kLeft, y_, kRight - kLeft, 6), line, Font(9.5));
        y_ += 7;
        s_.Text(QRectF(kLeft, y_, kRight - kLeft, 6),
                t_.AllPassed() ? QStringLiteral("Результат: все датчики проверены, замечаний нет")
                               : QStringLiteral("Результат: проверка не пройдена, см. замечания"),
                Font(10.5, true));
        y_ += 10;
    }

    // Kept together on one page: the names under the lines, then the date.
    void Signatures()
    {
        Need(kSignaturesH);
        s_.Text(QRectF(kLeft, y_, 60, 6), QStringLiteral("Проверку провели:"), Font(10, true));
        y_ += 13;
        const double nameX = kLeft, nameW = 95, signX = kLeft + 110, signW = 50;
        for (int i = 0; i < 2; ++i) {
            s_.Line(nameX, y_, nameX + nameW, y_, Qt::black, 0.25);
            s_.Line(signX, y_, signX + signW, y_, Qt::black, 0.25);
            s_.Text(QRectF(nameX, y_ + 0.5, nameW, 4), QStringLiteral("(Ф. И. О.)"), Font(7), Qt::AlignCenter,
                    QColor(70, 70, 70));
            s_.Text(QRectF(signX, y_ + 0.5, signW, 4), QStringLiteral("(подпись)"), Font(7), Qt::AlignCenter,
                    QColor(70, 70, 70));
            y_ += 11;
        }
        s_.Text(QRectF(kLeft, y_ - 3, 120, 6), QStringLiteral("Дата: «____» ________________ 20____ г."), Font(10));
        y_ += 5;
    }

    void PageFooter()
    {
        Footer(s_, QStringLiteral("Протокол проверки ЦБ №%1 «%2», отпечаток %3, начало %4")
                       .arg(t_.BlockNumber())
                       .arg(Name(), Q(t_.Fingerprint()), Q(TWalkTest::PcTimeText(t_.StartMs()))),
               page_, pages_);
    }

    QPdfWriter& writer_;
    TPainter s_;
    const TWalkTest& t_;
    const TCertificateData& d_;
    std::vector<int> uirs_;
    QStringList remarks_;
    double y_ = 0;
    int page_ = 1, pages_ = 1;
};

}  // namespace

bool WriteWalkCertificate(const std::string& pdfPath, const TWalkTest& test, const TCertificateData& d,
                          std::string& error)
{
    return WritePdf(
        pdfPath, QStringLiteral("Протокол проверки датчиков ЦБ №%1").arg(test.BlockNumber()), d.Version,
        [&](QPdfWriter& writer, QPainter& painter) { CertificateWriter(writer, painter, test, d).Write(); }, error);
}

}  // namespace kestrel
