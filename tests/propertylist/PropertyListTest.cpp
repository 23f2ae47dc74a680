#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <random>

#include "TestSupport.h"
#include "propertylist/PropertyList.h"

namespace pelkora {
namespace {

using namespace std::chrono_literals;
using Array = PropertyValue::Array;
using Dictionary = PropertyValue::Dictionary;
using Data = PropertyValue::Data;
using Uid = PropertyValue::Uid;

PropertyValue::Date utc(int year, unsigned month, unsigned day,
                        std::chrono::microseconds time = {}) {
    return std::chrono::sys_days(std::chrono::year(year) / month / day) + time;
}

PropertyValue roundTrip(const PropertyValue& value, PropertyListFormat format) {
    auto decoded = decodePropertyList(encodePropertyList(value, format));
    EXPECT_TRUE(decoded) << (decoded ? "" : decoded.error().message);
    return decoded ? *decoded : PropertyValue("<decoding failed>");
}

std::string errorOf(std::string_view bytes) {
    auto decoded = decodePropertyList(bytes);
    EXPECT_FALSE(decoded) << "decoded to a " << (decoded ? decoded->typeName() : "");
    return decoded ? "" : decoded.error().message;
}

// Builds a binary property list from encoded objects; the top object is the first. Offsets
// are 4 bytes wide and references `referenceSize` bytes.
std::string binaryPlist(const std::vector<std::string>& objects, int referenceSize = 1) {
    std::string bytes = "bplist00";
    std::vector<std::uint32_t> offsets;
    for (const auto& object : objects) {
        offsets.push_back(static_cast<std::uint32_t>(bytes.size()));
        bytes += object;
    }
    const auto tableOffset = bytes.size();
    for (auto offset : offsets) {
        for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(offset >> shift);
    }
    std::string trailer(32, '\0');
    trailer[6] = 4;
    trailer[7] = static_cast<char>(referenceSize);
    for (int i = 0; i < 8; ++i) {
        trailer[8 + i] = static_cast<char>(std::uint64_t{objects.size()} >> (56 - 8 * i));
        trailer[24 + i] = static_cast<char>(std::uint64_t{tableOffset} >> (56 - 8 * i));
    }
    return bytes + trailer;
}

std::string reference(std::uint64_t index, int size = 1) {
    std::string bytes;
    for (int i = size - 1; i >= 0; --i) bytes += static_cast<char>(index >> (8 * i));
    return bytes;
}

// An array marker for up to 14 elements.
std::string arrayOf(std::initializer_list<std::uint64_t> indexes, int referenceSize = 1) {
    std::string bytes(1, static_cast<char>(0xA0 | indexes.size()));
    for (auto index : indexes) bytes += reference(index, referenceSize);
    return bytes;
}

std::string xmlArrays(std::size_t depth) {
    std::string xml = "<plist version=\"1.0\">";
    for (std::size_t i = 0; i < depth; ++i) xml += "<array>";
    for (std::size_t i = 0; i < depth; ++i) xml += "</array>";
    return xml + "</plist>";
}

// Object i is a one-element array holding object i + 1; the last is an empty array.
std::string binaryArrays(std::size_t depth) {
    std::vector<std::string> objects;
    for (std::size_t i = 0; i + 1 < depth; ++i) objects.push_back(arrayOf({i + 1}, 4));
    objects.push_back(arrayOf({}));
    return binaryPlist(objects, 4);
}

TEST(PropertyListValue, TypeNamesDescribeEachKind) {
    EXPECT_EQ(PropertyValue(true).typeName(), "boolean");
    EXPECT_EQ(PropertyValue(7).typeName(), "integer");
    EXPECT_EQ(PropertyValue(0.5).typeName(), "real");
    EXPECT_EQ(PropertyValue("text").typeName(), "string");
    EXPECT_EQ(PropertyValue(utc(2020, 1, 1)).typeName(), "date");
    EXPECT_EQ(PropertyValue(Data{}).typeName(), "data");
    EXPECT_EQ(PropertyValue(Array{}).typeName(), "list");
    EXPECT_EQ(PropertyValue().typeName(), "dictionary");
    EXPECT_EQ(PropertyValue(Uid{1}).typeName(), "uid");
}

TEST(PropertyListValue, ConstructorsPickTheIntendedType) {
    EXPECT_EQ(PropertyValue(false).type(), PropertyValueType::boolean);
    EXPECT_EQ(PropertyValue(std::int64_t{-3}).type(), PropertyValueType::integer);
    EXPECT_EQ(*PropertyValue(std::uint64_t{1} << 63).integerValue(), INT64_MAX);
    EXPECT_EQ(PropertyValue(1.5f).type(), PropertyValueType::real);
    // A string literal must not decay to a pointer and become a bool.
    EXPECT_EQ(PropertyValue("YES").type(), PropertyValueType::string);
    EXPECT_EQ(PropertyValue(std::string_view("x")).type(), PropertyValueType::string);
}

TEST(PropertyListValue, EqualityComparesTypeAndContent) {
    EXPECT_NE(PropertyValue(1), PropertyValue(true));
    EXPECT_NE(PropertyValue(1), PropertyValue(1.0));
    EXPECT_EQ(PropertyValue(Dictionary{{"a", Array{1, "b"}}}),
              PropertyValue(Dictionary{{"a", Array{1, "b"}}}));
    EXPECT_NE(PropertyValue(Array{1, 2}), PropertyValue(Array{2, 1}));
}

class PropertyListRoundTrip : public testing::TestWithParam<PropertyListFormat> {};

INSTANTIATE_TEST_SUITE_P(PropertyListFormats, PropertyListRoundTrip,
                         testing::Values(PropertyListFormat::xml, PropertyListFormat::binary),
                         [](const auto& info) {
                             return info.param == PropertyListFormat::xml ? "Xml" : "Binary";
                         });

TEST_P(PropertyListRoundTrip, EveryTypeInADictionary) {
    const PropertyValue value(Dictionary{
        {"bool", true},
        {"false", false},
        {"integer", 42},
        {"real", 0.1},
        {"string", "Import# "},
        {"date", utc(2004, 11, 29, 21h + 33min + 9s + 250ms)},
        {"data", Data{0, 1, 2, 0xFF}},
        {"list", Array{"a", 1, false}},
        {"dictionary", Dictionary{{"nested", "yes"}}},
        {"uid", Uid{7}},
    });
    EXPECT_EQ(roundTrip(value, GetParam()), value);
}

TEST_P(PropertyListRoundTrip, ScalarRoot) {
    EXPECT_EQ(roundTrip("only a string", GetParam()), PropertyValue("only a string"));
    EXPECT_EQ(roundTrip(-5, GetParam()), PropertyValue(-5));
}

TEST_P(PropertyListRoundTrip, IntegersAtEveryWidthAndBothEnds) {
    const Array integers = {INT64_MIN, -1, 0, 255, 256, 65535, 65536, 4294967296LL, INT64_MAX};
    EXPECT_EQ(roundTrip(integers, GetParam()), PropertyValue(integers));
}

TEST_P(PropertyListRoundTrip, RealsIncludingInfinitiesAndNaN) {
    const Array reals = {0.1, -2.5, 1e300, 5e-324, 1.5f, HUGE_VAL, -HUGE_VAL};
    EXPECT_EQ(roundTrip(reals, GetParam()), PropertyValue(reals));
    const auto nan = roundTrip(std::nan(""), GetParam());
    ASSERT_TRUE(nan.realValue());
    EXPECT_TRUE(std::isnan(*nan.realValue()));
}

TEST_P(PropertyListRoundTrip, NonAsciiAndSpecialStrings) {
    const Array strings = {"Zoë Ångström",    "✓ 東京", "😀 outside the BMP",
                           "<&>\"'",          "",       "line\r\nbreak\ttab",
                           "control \x01\x1f"};
    EXPECT_EQ(roundTrip(strings, GetParam()), PropertyValue(strings));
    const Dictionary keys = {{"clé", 1}, {"&<key>", 2}};
    EXPECT_EQ(roundTrip(keys, GetParam()), PropertyValue(keys));
}

TEST_P(PropertyListRoundTrip, DatesKeepFractionsOfASecond) {
    const Array dates = {
        utc(2001, 1, 1),
        utc(2004, 11, 29, 21h + 33min + 9s + 250ms),
        utc(2024, 2, 29, 23h + 59min + 59s + 123456us),
        utc(1999, 12, 31, 23h + 59min + 59s + 500ms),  // before 2001: negative seconds
        utc(2000, 12, 31, 23h + 59min + 59s + 750ms),  // within the last second before 2001
    };
    EXPECT_EQ(roundTrip(dates, GetParam()), PropertyValue(dates));
}

TEST_P(PropertyListRoundTrip, DatesAtTheClocksLimits) {
    const Array limits = {PropertyValue::Date::min(), PropertyValue::Date::max()};
    const auto once = roundTrip(limits, GetParam());
    EXPECT_EQ(roundTrip(once, GetParam()), once);
    EXPECT_EQ(roundTrip(once, PropertyListFormat::xml), once);
}

TEST(PropertyListXml, DatesKeepNanoseconds) {
    const Array dates = {utc(2024, 1, 1) + std::chrono::nanoseconds(123456789)};
    EXPECT_EQ(roundTrip(dates, PropertyListFormat::xml), PropertyValue(dates));
}

TEST_P(PropertyListRoundTrip, EmptyAndFullRangeData) {
    Data everyByte;
    for (int i = 0; i < 256; ++i) everyByte.push_back(static_cast<std::uint8_t>(i));
    const Array data = {Data{}, Data{0}, Data{1, 2}, everyByte};
    EXPECT_EQ(roundTrip(data, GetParam()), PropertyValue(data));
}

TEST_P(PropertyListRoundTrip, NestedListsAndDictionaries) {
    PropertyValue value = Array{};
    for (int level = 0; level < 30; ++level) {
        value = level % 2 ? PropertyValue(Array{value, level, Array{}})
                          : PropertyValue(Dictionary{
                                {"level", level}, {"inner", value}, {"empty", Dictionary{}}});
    }
    EXPECT_EQ(roundTrip(value, GetParam()), value);
}

TEST_P(PropertyListRoundTrip, InvalidUtf8IsReplacedNotLost) {
    const auto decoded = roundTrip(
        "a\xFF"
        "b\xC3",
        GetParam());
    EXPECT_EQ(decoded, PropertyValue("a\uFFFDb\uFFFD"));
}

TEST(PropertyListXml, WritesTheLayoutOfApplesTools) {
    const PropertyValue value(Dictionary{{"b", Array{true, 1}}, {"a", "x&y"}, {"e", Array{}}});
    EXPECT_EQ(encodePropertyList(value, PropertyListFormat::xml),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
              "<plist version=\"1.0\">\n"
              "<dict>\n"
              "\t<key>a</key>\n"
              "\t<string>x&amp;y</string>\n"
              "\t<key>b</key>\n"
              "\t<array>\n"
              "\t\t<true/>\n"
              "\t\t<integer>1</integer>\n"
              "\t</array>\n"
              "\t<key>e</key>\n"
              "\t<array/>\n"
              "</dict>\n"
              "</plist>\n");
}

TEST(PropertyListXml, WritesWholeSecondDatesWithoutAFraction) {
    const auto xml = encodePropertyList(
        Array{utc(2004, 11, 29, 21h + 33min + 9s), utc(2004, 11, 29, 21h + 33min + 9s + 250ms)},
        PropertyListFormat::xml);
    EXPECT_NE(xml.find("<date>2004-11-29T21:33:09Z</date>"), std::string::npos) << xml;
    EXPECT_NE(xml.find("<date>2004-11-29T21:33:09.25Z</date>"), std::string::npos) << xml;
}

TEST(PropertyListXml, ReadsWhatOtherWritersProduce) {
    const auto decoded = decodePropertyList(
        "\xEF\xBB\xBF<?xml version='1.0'?>\n<!-- hand-edited -->\n"
        "<!DOCTYPE plist [ <!ENTITY x \"<dict>\"> ]>\n<plist version=\"1.0\"><dict>\n"
        "  <key>text</key><string>a &lt;b&gt; &#233;&#x1F600; <![CDATA[<raw & kept>]]><!-- c "
        "--></string>\n"
        "  <key>hex</key><integer> 0x1F </integer>\n"
        "  <key>decimal</key><integer>010</integer>\n"
        "  <key>negative</key><integer>-9223372036854775808</integer>\n"
        "  <key>real</key><real>+1E3</real>\n"
        "  <key>infinite</key><real>-infinity</real>\n"
        "  <key>empty</key><string/>\n"
        "  <key>wrapped</key><data>\n\tAAEC\n\tAw==\n</data>\n"
        "  <key>unpadded</key><data>AAE</data>\n"
        "  <key>truth</key><true></true>\n"
        "  <key>ref</key><dict><key>CF$UID</key><integer>3</integer></dict>\n"
        "  <key>twice</key><integer>1</integer><key>twice</key><integer>2</integer>\n"
        "</dict></plist>\n");
    ASSERT_TRUE(decoded) << decoded.error().message;
    const PropertyValue expected(Dictionary{
        {"text", "a <b> \u00e9\U0001F600 <raw & kept>"},
        {"hex", 31},
        {"decimal", 10},  // not octal
        {"negative", INT64_MIN},
        {"real", 1000.0},
        {"infinite", -HUGE_VAL},
        {"empty", ""},
        {"wrapped", Data{0, 1, 2, 3}},
        {"unpadded", Data{0, 1}},
        {"truth", true},
        {"ref", Uid{3}},
        {"twice", 2},
    });
    EXPECT_EQ(*decoded, expected);
}

TEST(PropertyListXml, ReadsAValueWithoutThePlistElement) {
    EXPECT_EQ(decodePropertyList("<array><integer>1</integer></array>").value_or("failed"),
              PropertyValue(Array{1}));
}

TEST(PropertyListXml, ErrorsNameTheLineAndTheProblem) {
    const auto message = errorOf("<plist>\n<dict>\n  <string>x</string>\n</dict>\n</plist>");
    EXPECT_EQ(message, "line 3: <key> expected in a dictionary, found <string>");
}

TEST(PropertyListXml, MalformedDocumentsAreErrors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"<integer>12abc</integer>", "not an integer"},
        {"<integer>9223372036854775808</integer>", "not an integer"},
        {"<real>1,5</real>", "not a real number"},
        {"<date>yesterday</date>", "not a date"},
        {"<date>2001-02-30T00:00:00Z</date>", "not a date"},
        {"<data>!!!</data>", "not Base64"},
        {"<plist><unknown/></plist>", "unknown element <unknown/>"},
        {"<plist><string>open", "is not closed"},
        {"<plist><array></dict></plist>", "unexpected </dict>"},
        {"<string>x</strong>", "</strong> does not close <string>"},
        {"<plist version=\"1.0\"></plist>", "empty"},
        {"<true/><true/>", "after the property list"},
        {"<key>k</key>", "outside a dictionary"},
        {"<dict><key>k</key></dict>", "has no value"},
        {"<string>a & b</string>", "&amp;"},
        {"<string>&bogus;</string>", "unknown entity"},
        {"<string>&#xD800;</string>", "invalid character reference"},
        {"<!-- never closed", "unterminated comment"},
        {"just text", "where the property list should follow"},
        {"\xFF\xFE<\0p\0", "UTF-16"},
    };
    for (const auto& [document, problem] : cases) {
        EXPECT_NE(errorOf(document).find(problem), std::string::npos)
            << document << " gave: " << errorOf(document);
    }
}

TEST(PropertyListBinary, WritesTheBplist00Format) {
    const auto bytes = encodePropertyList(Dictionary{{"a", 1}}, PropertyListFormat::binary);
    EXPECT_EQ(bytes.substr(0, 8), "bplist00");
}

TEST(PropertyListBinary, ReadsObjectKindsOtherWritersUse) {
    const auto decoded = decodePropertyList(binaryPlist({
        arrayOf({1, 2, 3, 4, 5}), std::string("\xC1\x04", 2),  // a set, read as a list
        "\x14" + std::string(15, '\xFF') + "\xFE",             // -2 in 16 bytes
        std::string("\x63\xD8\x3D\xDE\x00\xD8\x00", 7),  // UTF-16: U+1F600, then a lone surrogate
        std::string("\x52\x41\xE9", 3),                  // "ASCII" with a Latin-1 byte
        std::string("\x33\x41\xE0\x00\x00\x00\x00\x00\x00", 9),  // 2^31 s: beyond 32 bits
    }));
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_EQ(*decoded, PropertyValue(Array{Array{"A\uFFFD"}, -2, "\U0001F600\uFFFD", "A\uFFFD",
                                            utc(2069, 1, 19, 3h + 14min + 8s)}));
}

TEST(PropertyListBinary, DatesOutsideLibplistsRangeAreClampedWhenWritten) {
    const auto decoded =
        roundTrip(Array{utc(2100, 1, 1), utc(1900, 1, 1)}, PropertyListFormat::binary);
    EXPECT_EQ(decoded, PropertyValue(Array{utc(2069, 1, 19, 3h + 14min + 7s),
                                           utc(1932, 12, 13, 20h + 45min + 52s)}));
}

TEST(PropertyListBinary, DistantFutureIsClampedToTheClocksRangeWhenRead) {
    // Apple's "distant future", year 4001, is beyond what a nanosecond clock can hold.
    const auto decoded =
        decodePropertyList(binaryPlist({std::string("\x33\x42\x2d\x63\xc3\x7f\x00\x00\x00", 9)}));
    ASSERT_TRUE(decoded) << decoded.error().message;
    EXPECT_GT(*decoded->dateValue(), utc(2262, 1, 1));
}

TEST(PropertyListHostile, EveryTruncationIsAnErrorNotACrash) {
    const PropertyValue value(
        Dictionary{{"list", Array{"a", 1.5, utc(2020, 1, 1)}}, {"data", Data(40, 7)}});
    const auto binary = encodePropertyList(value, PropertyListFormat::binary);
    for (std::size_t length = 0; length < binary.size(); ++length) {
        EXPECT_FALSE(decodePropertyList(std::string_view(binary).substr(0, length))) << length;
    }
    const auto xml = encodePropertyList(value, PropertyListFormat::xml);
    const auto end = xml.rfind("</plist>") + std::string_view("</plist>").size();
    for (std::size_t length = 0; length < end; ++length) {
        EXPECT_FALSE(decodePropertyList(std::string_view(xml).substr(0, length))) << length;
    }
}

TEST(PropertyListHostile, RandomBytesAreErrorsNotCrashes) {
    std::mt19937 random(20240229);
    const auto sample =
        encodePropertyList(Array{"abc", 1, Dictionary{{"k", 2.5}}}, PropertyListFormat::binary);
    for (int round = 0; round < 3000; ++round) {
        std::string bytes = round % 2 ? sample : std::string(64, '\0');
        if (round % 2 == 0) bytes.replace(0, 8, "bplist00");
        for (int flips = 0; flips < 4; ++flips) {
            bytes[random() % bytes.size()] = static_cast<char>(random());
        }
        (void)decodePropertyList(bytes);
    }
    EXPECT_FALSE(decodePropertyList("bplist00"));
    EXPECT_FALSE(decodePropertyList("bplist15 a newer binary format"));
    EXPECT_FALSE(decodePropertyList(""));
}

TEST(PropertyListHostile, NestingIsLimitedInBothFormats) {
    EXPECT_TRUE(decodePropertyList(xmlArrays(maximumPropertyListDepth)));
    EXPECT_NE(errorOf(xmlArrays(maximumPropertyListDepth + 1)).find("nested"), std::string::npos);
    EXPECT_NE(errorOf(xmlArrays(100'000)).find("nested"), std::string::npos);

    EXPECT_TRUE(decodePropertyList(binaryArrays(maximumPropertyListDepth)));
    EXPECT_NE(errorOf(binaryArrays(maximumPropertyListDepth + 1)).find("nested"),
              std::string::npos);
    EXPECT_NE(errorOf(binaryArrays(100'000)).find("nested"), std::string::npos);
}

TEST(PropertyListHostile, ContainerHoldingItselfIsAnError) {
    EXPECT_NE(errorOf(binaryPlist({arrayOf({0})})).find("contains itself"), std::string::npos);
    EXPECT_NE(errorOf(binaryPlist({arrayOf({1}), arrayOf({0})})).find("contains itself"),
              std::string::npos);
}

TEST(PropertyListHostile, SharedObjectsCannotExpandWithoutLimit) {
    // 40 levels of two references to the next object: 2^40 values from 130 bytes.
    std::vector<std::string> objects;
    for (std::uint64_t i = 0; i < 40; ++i) objects.push_back(arrayOf({i + 1, i + 1}));
    objects.push_back(std::string("\x10\x01", 2));
    EXPECT_NE(errorOf(binaryPlist(objects)).find("expand"), std::string::npos);
}

TEST(PropertyListHostile, DamagedTablesAndObjectsAreErrors) {
    const auto valid = binaryPlist({arrayOf({1}), std::string("\x10\x05", 2)});
    ASSERT_TRUE(decodePropertyList(valid));
    const auto trailer = valid.size() - 32;
    auto damaged = [&](std::size_t at, char byte) {
        auto bytes = valid;
        bytes[at] = byte;
        return errorOf(bytes);
    };
    EXPECT_NE(damaged(trailer + 6, 0).find("offset size"), std::string::npos);
    EXPECT_NE(damaged(trailer + 7, 9).find("reference size"), std::string::npos);
    EXPECT_NE(damaged(trailer + 15, 0).find("no objects"), std::string::npos);
    EXPECT_NE(damaged(trailer + 23, 2).find("top object"), std::string::npos);
    EXPECT_NE(damaged(trailer + 31, 100).find("offset table"), std::string::npos);
    EXPECT_NE(damaged(9, 7).find("reference to object 7"), std::string::npos);
    EXPECT_NE(damaged(8, '\xAE').find("past the end"), std::string::npos);
    EXPECT_NE(damaged(10, '\x00').find("null"), std::string::npos);
    EXPECT_NE(damaged(10, '\x70').find("unknown object type"), std::string::npos);
    EXPECT_NE(errorOf(binaryPlist({std::string("\xD1\x01\x02", 3), std::string("\x10\x01", 2),
                                   std::string("\x10\x02", 2)}))
                  .find("key must be a string"),
              std::string::npos);
}

// Inputs that once crashed a decoder, and samples to seed the fuzzer with. A file whose
// name starts with "valid" must decode; any other must be refused. Neither may crash.
TEST(PropertyListHostile, RegressionFiles) {
    const std::filesystem::path folder = PELKORA_TEST_DATA_DIR "/plist";
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const auto bytes = test::readFile(entry.path());
        const auto decoded = decodePropertyList(bytes);
        const bool expectValid = entry.path().filename().string().starts_with("valid");
        EXPECT_EQ(bool(decoded), expectValid) << entry.path();
        if (decoded) {
            EXPECT_TRUE(
                decodePropertyList(encodePropertyList(*decoded, PropertyListFormat::binary)))
                << entry.path();
            const auto xml = encodePropertyList(*decoded, PropertyListFormat::xml);
            const auto again = decodePropertyList(xml);
            ASSERT_TRUE(again) << entry.path() << ": " << again.error().message;
            EXPECT_EQ(encodePropertyList(*again, PropertyListFormat::xml), xml) << entry.path();
        }
        ++files;
    }
    EXPECT_GT(files, 0u);
}

}  // namespace
}  // namespace pelkora
