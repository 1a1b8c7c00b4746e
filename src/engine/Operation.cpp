#include "engine/Operation.h"

#include "engine/Dates.h"
#include "engine/Uuid.h"
#include "platform/Errors.h"
#include "platform/TextValidity.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

using nlohmann::json;

StoreFormatError::StoreFormatError(std::string reason)
    : std::runtime_error("数据格式不正确，无法读取。"), reason_(std::move(reason))
{
}

Operation failedOperation(std::string_view path, int64_t size, std::string_view detail)
{
    Operation record;
    record.id = newUUID();
    record.date = dateNow();
    record.path = displayUtf8(path);
    record.size = size;
    record.success = false;
    record.detail = displayUtf8(detail);
    return record;
}

namespace {

bool storableText(const std::optional<std::string>& text) { return !text || isValidUtf8(*text); }
bool storableDate(const std::optional<double>& date) { return !date || std::isfinite(*date); }

// The member's value, or nothing when it is missing or null.
const json* member(const json& object, const char* name)
{
    auto it = object.find(name);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

const json& required(const json& object, const char* name)
{
    const json* value = member(object, name);
    if (!value) throw StoreFormatError(std::string("missing member \"") + name + "\"");
    return *value;
}

[[noreturn]] void wrongType(const char* name)
{
    throw StoreFormatError(std::string("member \"") + name + "\" has the wrong type");
}

std::string readString(const json& value, const char* name)
{
    if (!value.is_string()) wrongType(name);
    return value.get<std::string>();
}

double readDate(const json& value, const char* name)
{
    if (!value.is_number()) wrongType(name);
    double date = value.get<double>();
    if (!std::isfinite(date)) wrongType(name);
    return date;
}

int64_t readInteger(const json& value, const char* name)
{
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<int64_t>();
    if (value.is_number_unsigned()) {
        uint64_t v = value.get<uint64_t>();
        if (v > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) wrongType(name);
        return static_cast<int64_t>(v);
    }
    if (value.is_number_float()) {
        // A whole number written with a fraction part is still that number.
        double v = value.get<double>();
        if (std::isfinite(v) && v == std::trunc(v) && v >= -9223372036854775808.0 && v < 9223372036854775808.0)
            return static_cast<int64_t>(v);
    }
    wrongType(name);
}

std::optional<std::string> optionalString(const json& object, const char* name)
{
    const json* value = member(object, name);
    if (!value) return std::nullopt;
    return readString(*value, name);
}

std::optional<double> optionalDate(const json& object, const char* name)
{
    const json* value = member(object, name);
    if (!value) return std::nullopt;
    return readDate(*value, name);
}

} // namespace

void checkStorable(const Operation& op)
{
    if (!canonicalUUID(op.id)) throw posixError(EINVAL);
    if (!isValidUtf8(op.path) || !isValidUtf8(op.detail) || !storableText(op.trashPath)
        || !storableText(op.resourceID) || !storableText(op.kind) || !storableText(op.bundleID)
        || !storableText(op.treeSignature))
        throw posixError(EILSEQ);
    if (!std::isfinite(op.date) || !storableDate(op.restoredAt) || !storableDate(op.modified))
        throw posixError(EDOM);
}

void to_json(json& j, const Operation& op)
{
    checkStorable(op);
    j = json::object();
    j["id"] = *canonicalUUID(op.id);
    j["date"] = op.date;
    j["path"] = op.path;
    j["size"] = op.size;
    j["success"] = op.success;
    j["detail"] = op.detail;
    if (op.trashPath) j["trashPath"] = *op.trashPath;
    if (op.resourceID) j["resourceID"] = *op.resourceID;
    if (op.restoredAt) j["restoredAt"] = *op.restoredAt;
    if (op.modified) j["modified"] = *op.modified;
    if (op.kind) j["kind"] = *op.kind;
    if (op.bundleID) j["bundleID"] = *op.bundleID;
    if (op.treeSignature) j["treeSignature"] = *op.treeSignature;
    if (op.orphanInfoChecked) j["orphanInfoChecked"] = true;
}

void from_json(const json& j, Operation& op)
{
    if (!j.is_object()) throw StoreFormatError("an operation is not a JSON object");
    Operation out;
    auto id = canonicalUUID(readString(required(j, "id"), "id"));
    if (!id) throw StoreFormatError("member \"id\" is not a UUID");
    out.id = *id;
    out.date = readDate(required(j, "date"), "date");
    out.path = readString(required(j, "path"), "path");
    out.size = readInteger(required(j, "size"), "size");
    const json& success = required(j, "success");
    if (!success.is_boolean()) wrongType("success");
    out.success = success.get<bool>();
    out.detail = readString(required(j, "detail"), "detail");
    out.trashPath = optionalString(j, "trashPath");
    out.resourceID = optionalString(j, "resourceID");
    out.restoredAt = optionalDate(j, "restoredAt");
    out.modified = optionalDate(j, "modified");
    out.kind = optionalString(j, "kind");
    out.bundleID = optionalString(j, "bundleID");
    out.treeSignature = optionalString(j, "treeSignature");
    if (auto checked = j.find("orphanInfoChecked"); checked != j.end() && !checked->is_null()) {
        if (!checked->is_boolean()) wrongType("orphanInfoChecked");
        out.orphanInfoChecked = checked->get<bool>();
    }
    op = std::move(out);
}

namespace {

void appendNumber(std::string& out, double value)
{
    if (!std::isfinite(value)) throw posixError(EDOM);
    // The shortest text that reads back as the identical double, always marked as a fraction.
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string_view text(buffer, static_cast<size_t>(result.ptr - buffer));
    out += text;
    if (text.find_first_of(".e") == std::string_view::npos) out += ".0";
}

void appendJson(std::string& out, const json& j)
{
    switch (j.type()) {
    case json::value_t::object: {
        out += '{';
        bool first = true;
        for (auto it = j.begin(); it != j.end(); ++it) {
            if (!first) out += ',';
            first = false;
            out += json(it.key()).dump();
            out += ':';
            appendJson(out, it.value());
        }
        out += '}';
        break;
    }
    case json::value_t::array: {
        out += '[';
        bool first = true;
        for (const json& item : j) {
            if (!first) out += ',';
            first = false;
            appendJson(out, item);
        }
        out += ']';
        break;
    }
    case json::value_t::number_float:
        appendNumber(out, j.get<double>());
        break;
    default:
        out += j.dump(); // strings (escaped, strict UTF-8), integers, booleans, null
        break;
    }
}

} // namespace

std::string dumpStoreJson(const json& j)
{
    std::string out;
    try {
        appendJson(out, j);
    } catch (const json::exception&) {
        // Only ill-formed UTF-8 makes the strict string writer fail.
        throw posixError(EILSEQ);
    }
    return out;
}

json parseStoreJson(std::string_view text)
{
    try {
        return json::parse(text.begin(), text.end());
    } catch (const json::exception& e) {
        throw StoreFormatError(e.what());
    }
}
