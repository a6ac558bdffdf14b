#include <gtest/gtest.h>

#include "state/Cp1251.h"
#include "state/Model.h"

using namespace kestrel;

TEST(Model, FreshCbHasDocumentedDefaults)
{
    TCbData cb;
    EXPECT_EQ(cb.Request, 0);
    EXPECT_EQ(cb.FirstPollPending, 1);
    EXPECT_EQ(cb.Enabled, 1);
    EXPECT_EQ(cb.Baud, 9600u);
    EXPECT_EQ(cb.Address, 1);
    EXPECT_EQ(cb.PortNumber, 1);
    EXPECT_EQ(cb.DataBits, 8);
    EXPECT_EQ(cb.Parity, 2);
    EXPECT_EQ(cb.StopBits, 0);
    EXPECT_EQ(cb.FailLimit, 50);
    EXPECT_EQ(cb.UrovTimeMs, 500);
    EXPECT_EQ(cb.ClockYear, 2013u);
    EXPECT_EQ(cb.ClockDay, 1);
    EXPECT_EQ(cb.ClockMonth, 1);
    EXPECT_EQ(U8(cb.Name), "СБ №1");
    EXPECT_EQ(U8(cb.EmerName), "Отказ блока");
    for (const auto& u : cb.Uir) {
        EXPECT_EQ(u.Present, 0);
        EXPECT_EQ(u.Number, 1);
        EXPECT_EQ(U8(u.Name), "УИР №1");
        EXPECT_EQ(U8(u.ChName3), "Канал 3");
    }
}

TEST(Model, FailureCountingSaturatesAndOneSuccessRestores)
{
    TCbData cb;
    for (int i = 0; i < 50; ++i)
        cb.CountFailure();
    EXPECT_EQ(cb.FailCount, 50);
    EXPECT_EQ(cb.LinkLost, 0);
    cb.CountFailure();
    EXPECT_EQ(cb.FailCount, 51);
    EXPECT_EQ(cb.LinkLost, 1);
    for (int i = 0; i < 10; ++i)
        cb.CountFailure();
    EXPECT_EQ(cb.FailCount, 51);
    cb.CountSuccess();
    EXPECT_EQ(cb.FailCount, 0);
    EXPECT_EQ(cb.LinkLost, 0);
}

TEST(Model, SmallFailLimit)
{
    TCbData cb;
    cb.FailLimit = 3;
    for (int i = 0; i < 6; ++i)
        cb.CountFailure();
    EXPECT_EQ(cb.FailCount, 4);
    EXPECT_EQ(cb.LinkLost, 1);
}

TEST(Model, CbIndexIsBoundByCountAndAllocation)
{
    TGlobalState s;
    EXPECT_NE(s.Cb(0), nullptr);
    EXPECT_EQ(s.Cb(1), nullptr);
    EXPECT_EQ(s.Cb(-1), nullptr);
    s.CbCount = 3;  // counted but not allocated: still nothing past the table
    EXPECT_EQ(s.Cb(1), nullptr);
    TCbData* first = s.Cb(0);
    ASSERT_TRUE(s.EnsureAllocated(3));
    EXPECT_EQ(s.Cb(0), first) << "growing must not move a record";
    EXPECT_NE(s.Cb(2), nullptr);
    EXPECT_FALSE(s.EnsureAllocated(kMaxCbCount + 1));
}

TEST(Model, SettingsRoundTripThroughRecord)
{
    TCbSettings s = TCbSettings::Defaults();
    s.Name = W1251("Подстанция 7");
    s.FuncTable[2][3] = 0x5A;
    s.Uir[42].InputFunction3 = 3;
    s.Uir[0].Present = 1;
    TCbData cb;
    ApplySettings(cb, s);
    EXPECT_EQ(cb.FuncTable[2][3], 0x5A);
    EXPECT_EQ(GetSettings(cb), s);
}
