#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <thread>

#include "journal/JournalExport.h"
#include "journal/JournalRows.h"

using namespace kestrel;

namespace {

TEventData Ev(uint8_t code, uint8_t uir = 0, uint8_t outputs = 0, uint8_t interval = 0)
{
    TEventData e;
    e.Code = code;
    e.UirAddress = uir;
    e.Outputs = outputs;
    e.Interval = interval;
    return e;
}

TEventData At(TEventData e, int d, int mo, int y, int h, int mi, int s, int ms)
{
    e.Day = static_cast<uint8_t>(d);
    e.Month = static_cast<uint8_t>(mo);
    e.Year = static_cast<uint8_t>(y);
    e.Hours = static_cast<uint8_t>(h);
    e.Minutes = static_cast<uint8_t>(mi);
    e.Seconds = static_cast<uint8_t>(s);
    e.Milliseconds = static_cast<uint16_t>(ms);
    return e;
}

std::string ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The list the expected export file was written from (by hand, in a text
// editor's terms: Windows-1251, CR LF).
std::vector<TEventData> MixedList()
{
    return {
        At(Ev(0xA1, 5, 0, 10), 5, 3, 18, 9, 7, 5, 30),
        At(Ev(0xC0, 0, 0x05), 31, 12, 19, 10, 0, 0, 0),
        At(Ev(0x77, 9, 9, 9), 1, 1, 0, 0, 0, 0, 0),
        At(Ev(0xD2), 28, 2, 99, 23, 59, 59, 999),
        At(Ev(0xE2, 43), 15, 6, 24, 12, 30, 45, 500),
        At(Ev(0xB3), 15, 6, 24, 12, 30, 45, 501),
        Ev(0xFF),
    };
}

}  // namespace

TEST(JournalRows, HeadersAndWidths)
{
    EXPECT_EQ(kJournalHeaders[0], "№ п/п");
    EXPECT_EQ(kJournalHeaders[1], "Код");
    EXPECT_EQ(kJournalHeaders[2], "Событие");
    EXPECT_EQ(kJournalHeaders[3], "Дата/время события");
    EXPECT_EQ(kJournalColumnWidths, (std::array<int, 4>{64, 79, 464, 232}));
}

TEST(JournalRows, TextByCode)
{
    struct Case { TEventData e; const char* code; const char* text; };
    const Case cases[] = {
        {Ev(0xA1, 5, 0, 10), "A1", "ДЗ на входе 1, УИР 5, интервал 10"},
        {Ev(0xA3, 43, 0, 63), "A3", "ДЗ на входе 3, УИР 43, интервал 63"},
        {Ev(0xB2), "B2", "МТЗ - 2"},
        {Ev(0xC0, 0, 0x05), "C0", "Состояние выходов ЦБ (05)  101000"},
        {Ev(0xC0, 0, 0x0D), "C0", "Состояние выходов ЦБ (0D)  101100"},
        {Ev(0xC0, 0, 0x3F), "C0", "Состояние выходов ЦБ (3F)  111111"},
        {Ev(0xD0), "D0", "Отключение питания"},
        {Ev(0xD1), "D1", "Включение питания"},
        {Ev(0xD2), "D2", "Сброс ВЖРКН"},
        {Ev(0xD3), "D3", "Вход в меню настроек"},
        {Ev(0xD4), "D4", "Выход из меню настроек"},
        {Ev(0xE0, 7), "E0", "Нет ответа от УИР 7"},
        {Ev(0xE3, 12), "E3", "Нет ответа от ПС на входе 3 УИР 12"},
        // Codes outside the table: empty text, the code still shown.
        {Ev(0x00, 5, 5, 5), "00", ""},
        {Ev(0x0A), "0A", ""},
        {Ev(0xA4, 5, 0, 10), "A4", ""},
        {Ev(0xB0), "B0", ""},
        {Ev(0xC1, 0, 5), "C1", ""},
        {Ev(0xD5), "D5", ""},
        {Ev(0xE4, 3), "E4", ""},
        {Ev(0xFF), "FF", ""},
    };
    int n = 0;
    for (const auto& c : cases) {
        const TJournalRow row = JournalRow(++n, c.e);
        EXPECT_EQ(row[0], std::to_string(n));
        EXPECT_EQ(row[1], c.code);
        EXPECT_EQ(row[2], c.text) << "code " << c.code;
    }
}

TEST(JournalRows, DateForms)
{
    struct Case { TEventData e; const char* date; };
    const Case cases[] = {
        {At(Ev(0xD0), 5, 3, 18, 9, 7, 5, 30), "5.3.2018  9:7:5.30"},
        {At(Ev(0xD0), 31, 12, 19, 10, 0, 0, 0), "31.12.2019  10:0:0.0"},
        {At(Ev(0xD0), 3, 3, 14, 9, 7, 5, 40), "3.3.2014  9:7:5.40"},
        {At(Ev(0xD0), 28, 2, 99, 23, 59, 59, 999), "28.2.2099  23:59:59.999"},
        {Ev(0xFF), "0.0.2000  0:0:0.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(JournalRow(1, c.e)[3], c.date);
}

TEST(JournalRows, UnknownAfterKnownStaysEmpty)
{
    const auto rows = RenderJournal(std::vector<TEventData>{Ev(0xD1), Ev(0x42), Ev(0xB1), Ev(0x99)});
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0][2], "Включение питания");
    EXPECT_EQ(rows[1][2], "");
    EXPECT_EQ(rows[2][2], "МТЗ - 1");
    EXPECT_EQ(rows[3][2], "");
    for (size_t k = 0; k < rows.size(); ++k)
        EXPECT_EQ(rows[k][0], std::to_string(k + 1));
}

TEST(JournalRows, RenderFollowsListOrder)
{
    TKestrelEvents list;
    EXPECT_TRUE(RenderJournal(list).empty());
    list.Append(Ev(0xD1));
    list.Append(Ev(0xD0));
    list.InsertAt(Ev(0xB2), 0);
    const auto rows = RenderJournal(list);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0][1], "B2");
    EXPECT_EQ(rows[1][1], "D1");
    EXPECT_EQ(rows[2][1], "D0");
}

// Rendering while another thread fills the list sees whole lists only: every
// rendered table is a prefix of the final one, numbered 1..n.
TEST(JournalRows, RenderDuringAppend)
{
    TKestrelEvents list;
    std::thread writer([&] {
        for (int k = 0; k < 255; ++k)
            list.Append(At(Ev(0xA1, static_cast<uint8_t>(k % 43 + 1), 0, 1), 1, 1, 20, 0, 0, 0, k));
    });
    size_t last = 0;
    for (int pass = 0; pass < 200; ++pass) {
        const auto rows = RenderJournal(list);
        ASSERT_GE(rows.size(), last);
        last = rows.size();
        for (size_t k = 0; k < rows.size(); ++k) {
            ASSERT_EQ(rows[k][0], std::to_string(k + 1));
            ASSERT_EQ(rows[k][3], "1.1.2020  0:0:0." + std::to_string(k));
        }
    }
    writer.join();
    EXPECT_EQ(RenderJournal(list).size(), 255u);
}

TEST(JournalExport, LineJoin)
{
    EXPECT_EQ(JournalLine({"1", "A1", "x", "y"}), "1;   A1;   x;   y");
    EXPECT_EQ(JournalLine({"", "", "", ""}), ";   ;   ;   ");
}

TEST(JournalExport, BytesMatchExpectedFiles)
{
    EXPECT_EQ(JournalExportBytes({}), ReadFile(KESTREL_JOURNAL_DATA "/empty.txt"));
    const std::string expected = ReadFile(KESTREL_JOURNAL_DATA "/mixed.txt");
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(JournalExportBytes(RenderJournal(MixedList())), expected);
}

TEST(JournalExport, LineShape)
{
    const std::string bytes = JournalExportBytes(RenderJournal(MixedList()));
    // No byte-order mark, nothing after the last CR LF, one CR LF per row,
    // three separators per line.
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
    size_t lines = 0, pos = 0;
    while (true) {
        const size_t end = bytes.find("\r\n", pos);
        if (end == std::string::npos)
            break;
        const std::string line = bytes.substr(pos, end - pos);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        size_t seps = 0;
        for (size_t at = line.find(";   "); at != std::string::npos; at = line.find(";   ", at + 1))
            ++seps;
        EXPECT_EQ(seps, 3u) << line;
        ++lines;
        pos = end + 2;
    }
    EXPECT_EQ(pos, bytes.size());
    EXPECT_EQ(lines, MixedList().size());
}
