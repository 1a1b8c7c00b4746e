#include "platform/PropertyList.h"

#include "BundleFixture.h"
#include "TestSupport.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

std::string binaryOf(const std::string& xml)
{
    PropertyList::Ptr root = PropertyList::parse(xml);
    if (!root) return {};
    char* data = nullptr;
    uint32_t length = 0;
    plist_to_bin(root.get(), &data, &length);
    std::string out(data, length);
    std::free(data);
    return out;
}

// A binary list of `levels` arrays where each array holds the next one twice: a few hundred
// bytes that the parser would expand into 2^levels nodes.
std::string doublingBinaryPlist(size_t levels)
{
    std::string out = "bplist00";
    std::vector<uint32_t> offsets;
    auto put = [&](uint64_t value, int size) {
        for (int i = size - 1; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    for (size_t i = 0; i < levels; ++i) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        if (i + 1 < levels) {
            out += static_cast<char>(0xA2);
            put(i + 1, 4);
            put(i + 1, 4);
        } else {
            out += static_cast<char>(0xA0);
        }
    }
    uint64_t table = out.size();
    for (uint32_t offset : offsets) put(offset, 4);
    out += std::string(6, '\0');
    out += static_cast<char>(4);
    out += static_cast<char>(4);
    put(levels, 8);
    put(0, 8);
    put(table, 8);
    return out;
}

} // namespace

TEST(PropertyList, MeasuresNestingAndSizeBeforeParsing)
{
    const std::string plain = "<?xml version=\"1.0\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                              "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\"><dict>"
                              "<key>CFBundleIdentifier</key><string>org.example.a</string>"
                              "<!-- <array><array> --><key>List</key><array><string><![CDATA[<array>]]></string>"
                              "<true/></array></dict></plist>";
    std::string cyclic = nestedBinaryPlist(3);
    cyclic[8 + 5 + 4] = 0; // the second level's one reference (bytes 14-17) points back to the first
    struct Case {
        const char* name;
        std::string data;
        bool within;
    } cases[] = {
        {"plain XML with a comment and CDATA", plain, true},
        {"the same in binary", binaryOf(plain), true},
        {"XML at the depth limit", nestedXmlPlist(PropertyList::kDepthLimit - 1), true},
        {"XML past it", nestedXmlPlist(PropertyList::kDepthLimit), false},
        {"binary at the depth limit", nestedBinaryPlist(PropertyList::kDepthLimit), true},
        {"binary past it", nestedBinaryPlist(PropertyList::kDepthLimit + 1), false},
        {"binary deep as an attack", nestedBinaryPlist(110000), false},
        {"binary expanding to millions of nodes", doublingBinaryPlist(30), false},
        {"binary referring in a cycle", cyclic, false},
        {"binary cut short", nestedBinaryPlist(8).substr(0, 40), false},
        {"closing tags hidden in a quoted attribute", "<plist><array a=\">\" </array><array></array></array></plist>", false},
        {"a closing tag that does not match", "<plist><array></dict></plist>", false},
        {"a declaration hiding tags", "<plist><array><? </array> ?></array></plist>", false},
        {"a bracketed document type", "<!DOCTYPE x [ <!ENTITY a \"b\"> ]><plist/>", false},
        {"an unterminated comment", "<plist><!-- </plist>", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(PropertyList::within(c.data), c.within) << c.name;
        if (!c.within) {
            EXPECT_FALSE(PropertyList::parse(c.data)) << c.name;
        }
    }
    EXPECT_TRUE(PropertyList::parse(doublingBinaryPlist(10))) << "a thousand nodes are fine";
    EXPECT_TRUE(PropertyList::parse(nestedXmlPlist(PropertyList::kDepthLimit - 1)));
    EXPECT_TRUE(PropertyList::parse(nestedBinaryPlist(PropertyList::kDepthLimit)));

    PropertyList::Ptr root = PropertyList::parse(binaryOf(plain));
    ASSERT_TRUE(root);
    EXPECT_EQ(PropertyList::stringValue(root.get(), "CFBundleIdentifier"), "org.example.a");
    EXPECT_EQ(PropertyList::stringValue(root.get(), "List"), std::nullopt);
}

TEST(PropertyList, ReadsOnlySmallRegularFiles)
{
    TempHome home;
    std::string file = writeFile(home.path("Info.plist"), "<plist><dict><key>K</key><string>v</string></dict></plist>");
    ASSERT_TRUE(PropertyList::readFile(file));
    EXPECT_EQ(PropertyList::stringValue(PropertyList::readFile(file).get(), "K"), "v");
    EXPECT_FALSE(PropertyList::readFile(file, 20)) << "over the limit";
    ASSERT_EQ(mkfifo(home.path("fifo.plist").c_str(), 0600), 0);
    EXPECT_FALSE(PropertyList::readFile(home.path("fifo.plist"))) << "a pipe is never waited on";
    ASSERT_EQ(symlink(file.c_str(), home.path("link.plist").c_str()), 0);
    EXPECT_FALSE(PropertyList::readFile(home.path("link.plist"))) << "a link is not followed";
    EXPECT_FALSE(PropertyList::readFile(home.path("missing.plist")));
}
