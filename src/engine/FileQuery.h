#pragma once
#include "engine/FileEntry.h"
#include "engine/FilePresentation.h"

#include <cstdint>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace FileQuery {

// The size threshold of "大文件" in bytes: megabytes of 1,000,000 bytes, at most
// 1,000,000,000 MB; 0 for zero or less; 500,000,000 when not finite.
int64_t thresholdBytes(double megabytes);

// The records that pass the filter (`category`: "全部文件", "大文件", "旧下载候选", "重复文件"
// or a category name) and contain the folded search text in their search key, in the order
// of `sort` ("最近修改": newest first; "名称": natural, case-insensitive order of names in
// the user's locale; anything else: input order). Both sorts are stable. A search holding
// U+0000 matches nothing. A stop request makes it return the empty list.
std::vector<FileEntry> apply(const std::vector<FileEntry>& files, std::string_view category, std::string_view search,
                             double threshold, const std::unordered_set<std::string>& duplicateIDs,
                             std::string_view sort, std::stop_token stop = {});

// The same query as positions into `files`, for callers that keep the records themselves
// and need not copy them.
std::vector<uint32_t> positions(const std::vector<FileEntry>& files, std::string_view category, std::string_view search,
                                double threshold, const std::unordered_set<std::string>& duplicateIDs,
                                std::string_view sort, std::stop_token stop = {});

// Display strings of each record, by path: size in the file style, short date in the user's
// locale, parent folder. A stop request returns the entries made so far.
std::unordered_map<std::string, FilePresentation> presentation(std::span<const FileEntry> slice,
                                                               std::stop_token stop = {});

} // namespace FileQuery
