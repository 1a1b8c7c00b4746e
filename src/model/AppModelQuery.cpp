// The file query and the selection: the filtered, searched and sorted rows published from a
// worker, and the selection's rows and size.
#include "model/AppModel.h"
#include "model/AppModelState.h"
#include "model/PostToModel.h"

#include "engine/FileQuery.h"
#include "engine/Uuid.h"

#include <algorithm>

namespace {

const char kDuplicateFilter[] = "重复文件";

// The report's records, kept alive by whoever holds them; none without a report.
ReportRows::Records recordsOf(const std::shared_ptr<const ScanReport>& report)
{
    if (!report) return nullptr;
    return ReportRows::Records(report, &report->files);
}

} // namespace

void AppModel::refreshResults(bool debounce)
{
    if (queryTask_) queryTask_->request_stop();
    queryDebounce_.stop();
    queryID_ = newUUID();

    auto input = std::make_unique<QueryInput>();
    input->id = queryID_;
    input->report = report_;
    input->duplicates = duplicateReport_;
    input->filter = filter_;
    input->search = search_;
    input->threshold = threshold_;
    input->sort = sort_;
    queryTask_ = input->source;
    setFiltering(true);

    pendingQuery_ = std::move(input);
    if (debounce)
        queryDebounce_.start();
    else
        startQuery();
}

void AppModel::startQuery()
{
    std::unique_ptr<QueryInput> input = std::move(pendingQuery_);
    if (!input || input->source.stop_requested()) return;
    std::shared_ptr<const QueryInput> shared(std::move(input));
    queryJobs_.start(shared->source, [this, shared](std::stop_token stop) {
        static const std::vector<FileEntry> none;
        const std::vector<FileEntry>& entries = shared->report ? shared->report->files : none;
        bool duplicateFilter = shared->filter == kDuplicateFilter;
        PathSet duplicatePaths;
        if (duplicateFilter && shared->duplicates)
            for (const DuplicateGroup& group : shared->duplicates->groups)
                for (const FileEntry& file : group.files) duplicatePaths.insert(file.path);

        auto result = std::make_shared<QueryResults>();
        // Positions into the report, which the results keep alive, rather than copies.
        result->files = ReportRows(recordsOf(shared->report),
                                   FileQuery::positions(entries, shared->filter, shared->search, shared->threshold,
                                                        duplicatePaths, shared->sort, stop));
        size_t shown = std::min(kPresentedRows, result->files.size());
        std::vector<FileEntry> head(result->files.begin(), result->files.begin() + static_cast<std::ptrdiff_t>(shown));
        result->presentation = FileQuery::presentation(head, stop);
        if (duplicateFilter && shared->duplicates) {
            if (shared->search.empty()) {
                result->groups = shared->duplicates->groups;
            } else {
                PathSet found;
                for (const FileEntry& file : result->files) found.insert(file.path);
                for (const DuplicateGroup& group : shared->duplicates->groups)
                    if (std::any_of(group.files.begin(), group.files.end(),
                                    [&](const FileEntry& file) { return found.count(file.path) > 0; }))
                        result->groups.push_back(group);
            }
        }
        post(this, [this, shared, result] {
            if (shared->source.stop_requested() || queryID_ != shared->id) return;
            // Freeing a million old rows takes tens of milliseconds: a worker does it, so the
            // window keeps answering while the user types or switches filters.
            auto previous = std::make_shared<QueryResults>(std::move(queryResults_));
            queryResults_ = std::move(*result);
            emit queryResultsChanged();
            setFiltering(false);
            queryJobs_.start(std::stop_source(), [previous = std::move(previous)](std::stop_token) mutable { previous.reset(); });
        });
    });
}

void AppModel::refreshSelection()
{
    std::vector<uint32_t> positions;
    int64_t size = 0;
    if (!selection_.empty() && report_) {
        for (size_t i = 0; i < report_->files.size(); ++i) {
            const FileEntry& file = report_->files[i];
            if (!selection_.count(file.path)) continue;
            positions.push_back(static_cast<uint32_t>(i));
            size += file.size;
        }
    }
    selectedFiles_ = ReportRows(recordsOf(report_), std::move(positions));
    emit selectedFilesChanged();
    selectedSize_ = size;
    emit selectedSizeChanged();
}

void AppModel::selectCopies(const DuplicateGroup& group, const std::string& keeping, std::optional<int> limit)
{
    PathSet next = selection_;
    for (const FileEntry& file : group.files) next.erase(file.path);
    size_t count = group.files.size();
    if (limit) count = std::min(count, static_cast<size_t>(std::max(*limit, 0)));
    for (size_t i = 0; i < count; ++i)
        if (group.files[i].path != keeping) next.insert(group.files[i].path);
    setSelection(std::move(next));
}
