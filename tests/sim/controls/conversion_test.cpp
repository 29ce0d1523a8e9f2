#include <gtest/gtest.h>

#include <clocale>

#include "sim/controls/conversion.h"

TEST(Conversion, IntegersAcceptSignsDigitsAndSurroundingSpaces)
{
    EXPECT_EQ(StrToInt("2400"), 2400);
    EXPECT_EQ(StrToInt(" -7 "), -7);
    EXPECT_EQ(StrToInt("+0"), 0);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), -2147483647 - 1);
    for (const char* bad : {"", " ", "-", "+", "1.0", "1,0", "0x10", "$10", "12a", "1 2", "2147483648",
                            "-2147483649", "99999999999999999999", "1e3"}) {
        std::int32_t value = 0;
        EXPECT_FALSE(TryStrToInt(bad, value)) << bad;
    }
}

TEST(Conversion, RealsAcceptCommaOrPointAndAnExponent)
{
    EXPECT_EQ(StrToFloat("0,99"), 0.99);
    EXPECT_EQ(StrToFloat("0.99"), 0.99);
    EXPECT_EQ(StrToFloat(",5"), 0.5);
    EXPECT_EQ(StrToFloat("5,"), 5.0);
    EXPECT_EQ(StrToFloat(" -4,8 "), -4.8);
    EXPECT_EQ(StrToFloat("1e3"), 1000.0);
    EXPECT_EQ(StrToFloat("2,5E-1"), 0.25);
    EXPECT_EQ(StrToFloat("1e-400"), 0.0);  // underflow converts
    for (const char* bad : {"", ",", ".", "-", "1,2,3", "1.2.3", "1,000.5", "nan", "inf", "0x1p3", "1e", "1e+",
                            "e5", "1e400", "-1e400", "abc", "1 0", "5d"}) {
        double value = 0;
        EXPECT_FALSE(TryStrToFloat(bad, value)) << bad;
    }
}

TEST(Conversion, LongTextsFollowTheSameRule)
{
    // Length alone never refuses a text: leading zeros and long fractions are still numbers.
    const std::string zeros(3000, '0');
    const auto text = [&zeros](const char* before, const char* after) {
        std::string t = before;
        t.append(zeros).append(after);
        return t;
    };
    EXPECT_EQ(StrToInt(text("", "42")), 42);
    EXPECT_EQ(StrToFloat(text("", "1,5")), 1.5);
    EXPECT_EQ(StrToFloat(text("0,", "1e3001")), 1.0);
    double value = 0;
    EXPECT_FALSE(TryStrToFloat(text("", "1,5x"), value));
    EXPECT_FALSE(TryStrToFloat(text("1", ""), value));  // overflows a double
    std::int32_t whole = 0;
    EXPECT_FALSE(TryStrToInt(text("1", ""), whole));
}

TEST(Conversion, ErrorsCarryTheTextAsTyped)
{
    try {
        StrToInt("12x");
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'12x' is not a valid integer value");
    }
    try {
        StrToFloat("");
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid floating point value");
    }
}

TEST(Conversion, DoesNotDependOnTheProcessLocale)
{
    for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "C.UTF-8"}) {
        if (!std::setlocale(LC_ALL, name)) continue;
        EXPECT_EQ(StrToFloat("0,1"), 0.1) << name;
        EXPECT_EQ(StrToFloat("0.1"), 0.1) << name;
    }
    std::setlocale(LC_ALL, "C");
}
