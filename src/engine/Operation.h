#pragma once
#include <cstdint>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

// The record of one attempt to move one item to the Trash, later marked when the item is
// put back. A change is made on a copy that replaces the stored record with the same id.
struct Operation {
    std::string id;                        // UUID, canonical upper-case
    double date = 0;                       // seconds since 2001
    std::string path;                      // where the item was, and where restore puts it
    int64_t size = 0;
    bool success = false;
    std::string detail;                    // user-facing outcome text
    std::optional<std::string> trashPath;
    std::optional<std::string> resourceID; // "<device>:<inode>" taken before the move
    std::optional<double> restoredAt;
    std::optional<double> modified;
    std::optional<std::string> kind;       // absent, "application" or "related-directory"
    std::optional<std::string> bundleID;
    std::optional<std::string> treeSignature;
    // On an interrupted move's "moving" entry: the start-up clean-up has dealt with the info
    // file that move may have left, so later starts leave the Trash alone. Written only when set.
    bool orphanInfoChecked = false;

    bool operator==(const Operation&) const = default;
};

// A stored record or store file that cannot be decoded. what() is the user-facing text;
// reason() says what exactly was wrong.
class StoreFormatError : public std::runtime_error {
public:
    explicit StoreFormatError(std::string reason);
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// The record of a move refused or failed before it began: a fresh id, the present date, and
// path and text shown with ill-formed bytes replaced, so that the history can store it.
Operation failedOperation(std::string_view path, int64_t size, std::string_view detail);

// Throws std::system_error unless the record can be written and read back unchanged:
// EINVAL for an id that is not a UUID, EILSEQ for a text that is not valid UTF-8, EDOM for
// a date that is not a finite number.
void checkStorable(const Operation& operation);

// JSON form: the six required members always, optional ones only with a value. Writing
// calls checkStorable first.
void to_json(nlohmann::json& json, const Operation& operation);
// Accepts the id in either case; a null member counts as absent; unknown members are
// ignored. Throws StoreFormatError for a missing required member or a wrong type.
void from_json(const nlohmann::json& json, Operation& operation);

// Compact text of a store's JSON, numbers with fractions in their shortest exact form.
// Throws std::system_error: EILSEQ for invalid UTF-8, EDOM for a number that is not finite.
std::string dumpStoreJson(const nlohmann::json& json);
// Parses a store file's text; throws StoreFormatError.
nlohmann::json parseStoreJson(std::string_view text);
