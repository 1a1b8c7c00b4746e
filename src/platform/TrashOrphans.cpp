#include "platform/Trash.h"
#include "platform/PathText.h"

#include "platform/FdCloser.h"
#include "platform/FolderNames.h"
#include "platform/RegularFile.h"
#include "platform/TrashFolders.h"
#include "platform/TrashInfo.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <map>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>
#include <vector>

// The start-up clean-up of info files that interrupted moves wrote without moving their items.
// It removes only what such a move wrote itself: other tools (file managers, trash-cli) write
// their info file first and move the item after, unlocked, under the same kind of names.

namespace Trash {

namespace {

using namespace detail;

// Far above any info file Tessyn or a file manager writes.
constexpr size_t kInfoLimit = 64 * 1024;
// How long after its journal entry's date a move writes its info file: the journal write may
// wait two seconds for another copy, and flushes take their time on a busy disk.
constexpr double kMoveSpan = 20;

// Whether a time in whole seconds (DeletionDate=, or a file's modification) fits a move that
// began at `movedAt`.
bool fitsMove(double when, double movedAt) { return when >= std::floor(movedAt) - 1 && when <= movedAt + kMoveSpan; }

// Whether a DeletionDate= read as UTC (`clock`) fits such a move in some time zone: the date
// is local time as the writer had it, and the zone or its daylight saving may have changed
// since (UTC offsets run from -12:00 to +14:00, in steps of 15 minutes).
bool clockFitsMove(double clock, double movedAt)
{
    constexpr double kStep = 15 * 60;
    // The offsets that would make the clock fit: from clock - (movedAt + span) to clock - (floor(movedAt) - 1).
    double lowest = std::ceil((clock - movedAt - kMoveSpan) / kStep) * kStep;
    return lowest <= clock - (std::floor(movedAt) - 1) && lowest >= -12 * 3600 && lowest <= 14 * 3600;
}

// What the clean-up looks for in one Trash: for each interrupted move, the Path= its info
// file holds and the names its move could have claimed.
struct OrphanSearch {
    struct Move {
        std::string recorded;
        double movedAt;
        bool describedToo;
        std::function<bool(const struct stat&)> isItem;
    };
    std::vector<Move> moves;
    std::unordered_map<std::string, std::vector<size_t>> numbered; // slot -> moves
    std::unordered_map<std::string, std::vector<size_t>> random;   // stem "/" ext -> moves

    void add(Move move, const std::string& itemName)
    {
        size_t index = moves.size();
        std::optional<std::mt19937_64> unused;
        for (int attempt = 0; attempt <= kNumberedAttempts; ++attempt) {
            auto& list = numbered[candidateName(itemName, attempt, unused)];
            if (list.empty() || list.back() != index) list.push_back(index);
        }
        auto [stem, ext] = fittedParts(itemName, kRandomSuffixSize);
        random[stem + "/" + ext].push_back(index);
        moves.push_back(std::move(move));
    }

    // The moves that could have claimed `slot` (names hold no "/", so it parts stem and ext).
    std::vector<size_t> claimants(const std::string& slot) const
    {
        std::vector<size_t> found;
        if (auto it = numbered.find(slot); it != numbered.end()) found = it->second;
        for (size_t at = slot.find(' '); at != std::string::npos; at = slot.find(' ', at + 1)) {
            if (slot.size() < at + kRandomSuffixSize ||
                !isLowerHex(std::string_view(slot).substr(at + 1, kRandomSuffixSize - 1)))
                continue;
            auto it = random.find(slot.substr(0, at) + "/" + slot.substr(at + kRandomSuffixSize));
            if (it != random.end()) found.insert(found.end(), it->second.begin(), it->second.end());
        }
        return found;
    }

    // Whether one of the moves `among` (all moves when none) wrote an info file of this text,
    // modified at `modified`: one that describes its item with its own DeletionDate=, or, for
    // a text that names nothing, a file modified while that move ran.
    bool wrote(const std::vector<size_t>* among, const std::string& text, double modified) const
    {
        std::optional<std::string> path = TrashInfo::pathOf(text);
        std::optional<time_t> deleted = path ? TrashInfo::deletionClockOf(text) : std::nullopt;
        const double deletedAt = deleted ? static_cast<double>(*deleted) : std::nan(""); // fits no move
        // The modification time tells when the file was written whatever the time zone.
        auto matches = [&](size_t i) {
            const Move& move = moves[i];
            if (!fitsMove(modified, move.movedAt)) return false;
            return !path || (move.describedToo && move.recorded == *path && clockFitsMove(deletedAt, move.movedAt));
        };
        if (among) return std::any_of(among->begin(), among->end(), matches);
        for (size_t i = 0; i < moves.size(); ++i)
            if (matches(i)) return true;
        return false;
    }
};

// A move whose item another copy moved here under a name of its own left an info file that
// describes nothing: such moves are marked to have their describing info files removed.
void noteItemsMovedByOthers(OrphanSearch& search, int files, const std::string& slot, const std::vector<size_t>& claimants)
{
    struct stat st {};
    bool looked = false;
    for (size_t i : claimants) {
        OrphanSearch::Move& move = search.moves[i];
        if (move.describedToo || !move.isItem) continue;
        if (!looked && fstatat(files, slot.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return;
        looked = true;
        if (move.isItem(st)) move.describedToo = true;
    }
}

int removeOrphanInfoIn(const std::string& trashDir, OrphanSearch& search)
{
    // Links above the Trash are fine; the Trash, its info/ and files/ must be real folders.
    TrashFolders trash;
    try {
        trash.locate(trashDir);
        trash.open(false);
    } catch (const std::system_error&) {
        return 0;
    }
    FolderNames listing = listFolder(trash.info.fd);
    if (listing.error != 0 && listing.names.empty()) return 0;
    // Only names a move could have claimed (and drafts) are looked at further, so the Trash is
    // read once however many moves were interrupted; each name's claimants are found once.
    struct Candidate {
        const std::string* name;
        bool draft;
        std::string slot;
        std::vector<size_t> claimants;
    };
    std::vector<Candidate> candidates;
    for (const std::string& name : listing.names) {
        if (isDraftName(name)) {
            candidates.push_back({&name, true, {}, {}});
            continue;
        }
        if (name.size() <= kInfoSuffix.size() || !name.ends_with(kInfoSuffix)) continue;
        std::string slot = name.substr(0, name.size() - kInfoSuffix.size());
        std::vector<size_t> claimants = search.claimants(slot);
        if (claimants.empty()) continue;
        noteItemsMovedByOthers(search, trash.files.fd, slot, claimants);
        candidates.push_back({&name, false, std::move(slot), std::move(claimants)});
    }
    int removed = 0;
    for (const auto& [namePointer, draft, slot, claimants] : candidates) {
        const std::string& name = *namePointer;
        int fd = openat(trash.info.fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        FdCloser held{fd};
        // A move still under way holds the lock.
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) continue;
        struct stat st {};
        std::optional<std::string> text;
        try {
            if (fstat(fd, &st) != 0) continue;
            text = RegularFile::readOpened(fd, kInfoLimit);
        } catch (const std::system_error&) {
            continue;
        }
        // A draft's name tells no item: any of the moves may have written it.
        if (!text || !search.wrote(draft ? nullptr : &claimants, *text, static_cast<double>(st.st_mtim.tv_sec)))
            continue;
        try {
            if (!draft && !isMissing(trash.files.fd, slot)) continue;
        } catch (const std::system_error&) {
            continue;
        }
        if (unlinkat(trash.info.fd, name.c_str(), 0) == 0) ++removed;
    }
    if (removed) trash.info.sync();
    return removed;
}

} // namespace

int removeOrphanInfo(const std::string& originalPath, double movedAt, bool describedToo)
{
    return removeOrphanInfo(std::vector<InterruptedMove>{{originalPath, movedAt, describedToo, {}}});
}

int removeOrphanInfo(const std::vector<InterruptedMove>& moves)
{
    std::map<std::string, OrphanSearch> byTrash;
    for (const InterruptedMove& move : moves) {
        std::string filesPath;
        try {
            filesPath = filesDirectoryFor(move.originalPath);
        } catch (const std::system_error&) {
            continue;
        }
        std::string trashDir = parentOf(filesPath);
        // Path= is absolute in the home Trash, relative to the volume's top folder elsewhere.
        std::string recorded = move.originalPath;
        if (filesPath != homeFilesDirectory()) {
            std::string topdir = parentOf(trashDir);
            if (lastComponent(topdir) == ".Trash") topdir = parentOf(topdir);
            std::string prefix = topdir == "/" ? "/" : topdir + "/";
            if (move.originalPath.compare(0, prefix.size(), prefix) != 0) continue;
            recorded = move.originalPath.substr(prefix.size());
        }
        std::string itemName = lastComponent(move.originalPath);
        if (itemName.empty()) continue;
        byTrash[trashDir].add({std::move(recorded), move.movedAt, move.describedToo, move.isItem}, itemName);
    }
    int removed = 0;
    for (auto& [trashDir, search] : byTrash) removed += removeOrphanInfoIn(trashDir, search);
    return removed;
}

} // namespace Trash
