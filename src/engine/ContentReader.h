#pragma once
#include "engine/FileEntry.h"
#include "engine/Sha256.h"

#include <cstdint>
#include <stop_token>

// The content of one scanned file, opened so that a link, pipe or other file swapped in
// under the record's path is refused instead of read (or blocked on).
class ContentReader {
public:
    // Stop requests are checked once per chunk; each chunk is read in parts small enough
    // to stay in the processor's cache between the copy and the hash, which halves the
    // cost of reading cached files.
    static constexpr int64_t kChunk = 1 << 20;
    static constexpr int64_t kReadSize = 1 << 18;

    // Opens the record's path without following a final link and refuses, with the
    // validation error, anything that is not the record's regular file. Reading starts at
    // `offset`. Open failures throw the POSIX error.
    explicit ContentReader(const FileEntry& record, int64_t offset = 0);
    ~ContentReader();
    ContentReader(const ContentReader&) = delete;
    ContentReader& operator=(const ContentReader&) = delete;

    // Feeds the bytes from the current offset up to `limit` (or the end of the file) into
    // the hash, chunk by chunk. A stop request seen after the first read of a chunk that
    // returned data throws CancellationError before the data is fed. Returns false when the end of the file
    // came before `limit`. Read errors throw the POSIX error.
    bool feed(Sha256& hash, int64_t limit, const std::stop_token& stop);

    int64_t offset() const { return offset_; }
    int descriptor() const { return fd_; }
    // Hands the descriptor over to the caller, who must close it.
    int release();
    // Continues with a descriptor from release().
    ContentReader(int fd, int64_t offset) : fd_(fd), offset_(offset) {}

private:
    int fd_ = -1;
    int64_t offset_ = 0;
};
