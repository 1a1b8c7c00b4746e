#include "engine/Operation.h"
#include "engine/Uuid.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <system_error>

using nlohmann::json;

namespace {

Operation plainRecord()
{
    Operation op;
    op.id = newUUID();
    op.date = 786000000.123456789;
    op.path = "/home/u/下载/报告 final.pdf";
    op.size = 1234567890123;
    op.success = false;
    op.detail = "准备移入废纸篓";
    return op;
}

Operation fullRecord()
{
    Operation op = plainRecord();
    op.success = true;
    op.detail = "已移入废纸篓";
    op.trashPath = "/home/u/.local/share/Trash/files/报告 final.pdf";
    op.resourceID = "-5:18446744073709551615";
    op.restoredAt = 786000123.000000001;
    op.modified = 785999999.987654321;
    op.kind = "related-directory";
    op.bundleID = "com.example.Editor";
    op.treeSignature = std::string(64, 'a');
    op.orphanInfoChecked = true;
    return op;
}

Operation roundTrip(const Operation& op) { return parseStoreJson(dumpStoreJson(json(op))).get<Operation>(); }

int posixCode(const std::function<void()>& body)
{
    try {
        body();
    } catch (const std::system_error& e) {
        return e.code().value();
    }
    return 0;
}

} // namespace

TEST(Operation, RoundTripsWithOptionalFieldsAbsentOrPresent)
{
    Operation plain = plainRecord();
    json written = plain;
    EXPECT_EQ(written.size(), 6u) << written.dump();
    for (const char* name : {"id", "date", "path", "size", "success", "detail"})
        EXPECT_TRUE(written.contains(name)) << name;
    EXPECT_EQ(roundTrip(plain), plain);

    Operation full = fullRecord();
    written = full;
    EXPECT_EQ(written.size(), 14u) << written.dump();
    EXPECT_TRUE(written["size"].is_number_integer());
    EXPECT_TRUE(written["success"].is_boolean());
    EXPECT_EQ(roundTrip(full), full);

    // Each optional field on its own.
    Operation one = plainRecord();
    one.restoredAt = 0.5;
    EXPECT_EQ(roundTrip(one), one);
    EXPECT_EQ(json(one).size(), 7u);

    // Negative sizes and dates before 2001 are plain numbers too.
    one.size = -1;
    one.date = -978307200.25;
    EXPECT_EQ(roundTrip(one), one);
}

TEST(Operation, IdIsWrittenUpperCaseAndReadInEitherCase)
{
    Operation op = plainRecord();
    op.id = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
    json written = op;
    EXPECT_EQ(written["id"], "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");

    json lower = written;
    lower["id"] = "0a1b2c3d-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
    EXPECT_EQ(lower.get<Operation>().id, "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");
    lower["id"] = "0a1B2c3D-4e5f-4a6b-8c7d-9e0f1a2b3c4d";
    EXPECT_EQ(lower.get<Operation>().id, "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D");

    for (const char* bad : {"", "0A1B2C3D4E5F4A6B8C7D9E0F1A2B3C4D", "{0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D}",
                            "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4G", "0A1B2C3D-4E5F-4A6B-8C7D_9E0F1A2B3C4D"}) {
        json broken = written;
        broken["id"] = bad;
        EXPECT_THROW(broken.get<Operation>(), StoreFormatError) << bad;
    }
}

TEST(Operation, FractionalDatesReadBackIdentical)
{
    // Modification times with nanoseconds, as the scan computes them.
    std::mt19937_64 rng(20260418);
    for (int i = 0; i < 20000; ++i) {
        timespec ts{static_cast<time_t>(978307200 + rng() % 1500000000), static_cast<long>(rng() % 1000000000)};
        double date = static_cast<double>(ts.tv_nsec) / 1e9 + static_cast<double>(ts.tv_sec) - 978307200.0;
        Operation op = plainRecord();
        op.date = date;
        op.modified = std::nextafter(date, 0.0);
        op.restoredAt = date / 3.0;
        Operation back = roundTrip(op);
        ASSERT_EQ(std::memcmp(&back.date, &op.date, sizeof(double)), 0) << json(op).dump();
        ASSERT_EQ(*back.modified, *op.modified) << json(op).dump();
        ASSERT_EQ(*back.restoredAt, *op.restoredAt) << json(op).dump();
    }
    // Arbitrary finite bit patterns, including subnormals and the extremes, in the shortest form.
    for (int i = 0; i < 20000; ++i) {
        uint64_t bits = rng();
        double value;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        Operation op = plainRecord();
        op.date = value;
        std::string text = dumpStoreJson(json(value));
        Operation back = roundTrip(op);
        ASSERT_EQ(std::memcmp(&back.date, &op.date, sizeof(double)), 0) << text;
        char shortest[64];
        auto r = std::to_chars(shortest, shortest + sizeof shortest, value);
        // No longer than the shortest exact text, plus ".0" to mark a whole number as a fraction.
        ASSERT_LE(text.size(), static_cast<size_t>(r.ptr - shortest) + 2) << text;
    }
    for (double edge : {std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min(),
                        std::numeric_limits<double>::min(), -0.1, 0.0, 1e21, 123456789.000000001}) {
        Operation op = plainRecord();
        op.date = edge;
        EXPECT_EQ(roundTrip(op).date, edge) << json(op).dump();
    }
}

TEST(Operation, NullAndUnknownMembersAndFailingReads)
{
    json written = fullRecord();

    // Null reads as absent, for every optional member.
    json nulls = written;
    for (const char* name :
         {"trashPath", "resourceID", "restoredAt", "modified", "kind", "bundleID", "treeSignature", "orphanInfoChecked"})
        nulls[name] = nullptr;
    Operation fromNulls = nulls.get<Operation>();
    Operation expected = written.get<Operation>();
    expected.trashPath = expected.resourceID = expected.kind = expected.bundleID = expected.treeSignature = std::nullopt;
    expected.restoredAt = expected.modified = std::nullopt;
    expected.orphanInfoChecked = false;
    EXPECT_EQ(fromNulls, expected);
    EXPECT_FALSE(fromNulls.restoredAt.has_value());

    json lacking = written;
    lacking.erase("restoredAt");
    EXPECT_FALSE(lacking.get<Operation>().restoredAt.has_value());

    // Unknown members are ignored and vanish on the next write.
    json extra = written;
    extra["comment"] = {{"nested", true}};
    extra["restoredBy"] = 3;
    Operation fromExtra = extra.get<Operation>();
    EXPECT_EQ(fromExtra, written.get<Operation>());
    EXPECT_FALSE(json(fromExtra).contains("comment"));
    EXPECT_EQ(json(fromExtra), written);

    // A missing required member, or a null one, fails the read.
    for (const char* name : {"id", "date", "path", "size", "success", "detail"}) {
        json missing = written;
        missing.erase(name);
        EXPECT_THROW(missing.get<Operation>(), StoreFormatError) << "missing " << name;
        missing[name] = nullptr;
        EXPECT_THROW(missing.get<Operation>(), StoreFormatError) << "null " << name;
    }
    try {
        json missing = written;
        missing.erase("detail");
        missing.get<Operation>();
        FAIL() << "a record without detail was read";
    } catch (const StoreFormatError& e) {
        EXPECT_NE(e.reason().find("detail"), std::string::npos) << e.reason();
        EXPECT_STREQ(e.what(), "数据格式不正确，无法读取。");
    }

    // Wrong types.
    const std::pair<const char*, json> wrong[] = {
        {"id", 5}, {"date", "786000000"}, {"date", true}, {"path", json::array()}, {"size", "12"},
        {"size", 1.5}, {"size", 18446744073709551615ull}, {"success", 1}, {"success", "true"},
        {"detail", 0}, {"trashPath", 1}, {"resourceID", false}, {"restoredAt", "yesterday"},
        {"modified", json::object()}, {"kind", 2}, {"bundleID", json::array()}, {"treeSignature", 0.5},
        {"orphanInfoChecked", 1}};
    for (const auto& [name, value] : wrong) {
        json bad = written;
        bad[name] = value;
        EXPECT_THROW(bad.get<Operation>(), StoreFormatError) << name << " = " << value.dump();
    }
    EXPECT_THROW(json::array().get<Operation>(), StoreFormatError);
    EXPECT_THROW(json("x").get<Operation>(), StoreFormatError);

    // A size written as a whole number with a fraction part and dates written as integers read fine.
    json lenient = written;
    lenient["size"] = 42.0;
    lenient["date"] = 786000000;
    Operation read = lenient.get<Operation>();
    EXPECT_EQ(read.size, 42);
    EXPECT_EQ(read.date, 786000000.0);
}

TEST(Operation, UnstorableRecordsFailTheWriterCleanly)
{
    Operation op = plainRecord();
    op.path = std::string("/tmp/bad\xff\xfe.txt");
    EXPECT_EQ(posixCode([&] { json j = op; }), EILSEQ);
    op = plainRecord();
    op.trashPath = std::string("/t/\xc3");
    EXPECT_EQ(posixCode([&] { checkStorable(op); }), EILSEQ);
    op = plainRecord();
    op.detail = std::string("\xed\xa0\x80"); // an encoded surrogate
    EXPECT_EQ(posixCode([&] { checkStorable(op); }), EILSEQ);
    op = plainRecord();
    op.id = "";
    EXPECT_EQ(posixCode([&] { json j = op; }), EINVAL);
    op = plainRecord();
    op.date = std::nan("");
    EXPECT_EQ(posixCode([&] { json j = op; }), EDOM);
    op = plainRecord();
    op.modified = std::numeric_limits<double>::infinity();
    EXPECT_EQ(posixCode([&] { checkStorable(op); }), EDOM);
    EXPECT_EQ(posixCode([&] { checkStorable(fullRecord()); }), 0);

    // The store's own writer refuses ill-formed text as well.
    EXPECT_EQ(posixCode([&] { dumpStoreJson(json(std::string("\x80"))); }), EILSEQ);
    EXPECT_EQ(posixCode([&] { dumpStoreJson(json::array({1.0, std::nan("")})); }), EDOM);
    // Whole-number dates stay fractions in the text; escapes survive.
    EXPECT_EQ(dumpStoreJson(json::array({5.0, -0.0, 1e21, "a\"\n"})), "[5.0,-0.0,1e+21,\"a\\\"\\n\"]");
    EXPECT_THROW(parseStoreJson(std::string("[\"\xff\"]")), StoreFormatError);
    EXPECT_THROW(parseStoreJson(""), StoreFormatError);
}

TEST(Uuid, RandomVersion4UpperCase)
{
    std::set<std::string> seen;
    for (int i = 0; i < 2000; ++i) {
        std::string id = newUUID();
        ASSERT_EQ(id.size(), 36u);
        for (size_t k = 0; k < id.size(); ++k) {
            if (k == 8 || k == 13 || k == 18 || k == 23) {
                ASSERT_EQ(id[k], '-') << id;
            } else {
                ASSERT_TRUE((id[k] >= '0' && id[k] <= '9') || (id[k] >= 'A' && id[k] <= 'F')) << id;
            }
        }
        EXPECT_EQ(id[14], '4') << id;
        EXPECT_NE(std::string("89AB").find(id[19]), std::string::npos) << id;
        EXPECT_EQ(canonicalUUID(id), id);
        seen.insert(id);
    }
    EXPECT_EQ(seen.size(), 2000u);
}
