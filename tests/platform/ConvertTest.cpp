#include "Convert.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "XmlDom.h"

using namespace plat;

namespace {

TEST(Convert, StrToInt) {
    struct Case {
        const char* text;
        std::optional<int> value;
    };
    const std::vector<Case> cases = {
        {"0", 0},
        {"42", 42},
        {"+42", 42},
        {"-42", -42},
        {"-0", 0},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"0000000000000000000042", 42},
        {"2147483648", std::nullopt},
        {"-2147483649", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"", std::nullopt},
        {"-", std::nullopt},
        {"+", std::nullopt},
        {"abc", std::nullopt},
        {"12abc", std::nullopt},
        {" 12", std::nullopt},
        {"12 ", std::nullopt},
        {"1.5", std::nullopt},
        {"1,000", std::nullopt},
        {"0x10", std::nullopt},
        {"$10", std::nullopt},
        {"--1", std::nullopt},
        {"+-1", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TryStrToInt(c.text), c.value) << "'" << c.text << "'";
        if (c.value) {
            EXPECT_EQ(StrToInt(c.text), *c.value);
        } else {
            EXPECT_THROW(StrToInt(c.text), ConvertError) << "'" << c.text << "'";
        }
    }
}

TEST(Convert, StrToIntMessageQuotesTheText) {
    try {
        StrToInt("abc");
        FAIL() << "no ConvertError";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
    try {
        StrToInt("");
        FAIL() << "no ConvertError";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'' is not a valid integer value");
    }
}

TEST(Convert, StrToBool) {
    struct Case {
        const char* text;
        std::optional<bool> value;
    };
    const std::vector<Case> cases = {
        {"True", true},
        {"true", true},
        {"TRUE", true},
        {"tRuE", true},
        {"False", false},
        {"false", false},
        {"FALSE", false},
        {"1", true},
        {"0", false},
        {"-1", true},
        {"42", true},
        {"+0", false},
        {"", std::nullopt},
        {"yes", std::nullopt},
        {"T", std::nullopt},
        {"Truex", std::nullopt},
        {" True", std::nullopt},
        {"1.0", std::nullopt},
        {"99999999999", std::nullopt},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TryStrToBool(c.text), c.value) << "'" << c.text << "'";
        if (c.value) {
            EXPECT_EQ(StrToBool(c.text), *c.value);
        } else {
            EXPECT_THROW(StrToBool(c.text), ConvertError) << "'" << c.text << "'";
        }
    }
    try {
        StrToBool("xyz");
        FAIL() << "no ConvertError";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'xyz' is not a valid boolean value");
    }
}

TEST(Convert, BoolToStrIsWhatStrToBoolReads) {
    EXPECT_EQ(BoolToStr(true), "True");
    EXPECT_EQ(BoolToStr(false), "False");
    EXPECT_TRUE(StrToBool(BoolToStr(true)));
    EXPECT_FALSE(StrToBool(BoolToStr(false)));
}

class ElementValues : public ::testing::Test {
protected:
    void SetUp() override {
        FDoc.LoadFromString(
            "<config><interval>60</interval><flag>True</flag><off>0</off><empty/><word>soon</word>"
            "<cdata><![CDATA[15]]></cdata><mixed>1<b/></mixed></config>");
    }
    xml::Node Element(const char* name) { return FDoc.DocumentElement().ChildByName(name); }

    xml::Document FDoc;
};

TEST_F(ElementValues, ConvertTheirText) {
    EXPECT_EQ(VarToInt(Element("interval")), 60);
    EXPECT_EQ(VarToInt(Element("cdata")), 15);
    EXPECT_TRUE(VarToBool(Element("flag")));
    EXPECT_FALSE(VarToBool(Element("off")));
    EXPECT_FALSE(VarIsNull(Element("interval")));
    EXPECT_TRUE(VarIsNull(Element("empty")));
}

TEST_F(ElementValues, EmptyElementIsNullAndDoesNotConvert) {
    try {
        VarToInt(Element("empty"));
        FAIL() << "no ConvertError";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "Could not convert variant of type (Null) into type (Integer)");
    }
    try {
        VarToBool(Element("empty"));
        FAIL() << "no ConvertError";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "Could not convert variant of type (Null) into type (Boolean)");
    }
}

TEST_F(ElementValues, BadTextNamesTheValue) {
    try {
        VarToInt(Element("word"));
        FAIL() << "no ConvertError";
    } catch (const ConvertError& e) {
        EXPECT_STREQ(e.what(), "'soon' is not a valid integer value");
    }
    EXPECT_THROW(VarToBool(Element("word")), ConvertError);
}

TEST_F(ElementValues, ElementWithoutSingleTextKeepsTheDomError) {
    EXPECT_THROW(VarToInt(Element("mixed")), xml::XmlError);
    EXPECT_THROW(VarIsNull(Element("mixed")), xml::XmlError);
}

}  // namespace
