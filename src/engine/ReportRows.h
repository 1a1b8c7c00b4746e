#pragma once
#include "engine/FileEntry.h"

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <iterator>
#include <memory>
#include <vector>

// Records of a list held elsewhere, picked by position and in their own order. The list
// is kept alive by the view, so a view stays valid after its owner has moved on; it costs
// four bytes per row rather than a copy of each record.
class ReportRows {
public:
    using Records = std::shared_ptr<const std::vector<FileEntry>>;

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = FileEntry;
        using difference_type = std::ptrdiff_t;
        using pointer = const FileEntry*;
        using reference = const FileEntry&;

        const_iterator() = default;
        const_iterator(const std::vector<FileEntry>* records, const uint32_t* at) : records_(records), at_(at) {}
        reference operator*() const { return (*records_)[*at_]; }
        pointer operator->() const { return &**this; }
        reference operator[](difference_type n) const { return (*records_)[at_[n]]; }
        const_iterator& operator++() { ++at_; return *this; }
        const_iterator operator++(int) { auto old = *this; ++at_; return old; }
        const_iterator& operator--() { --at_; return *this; }
        const_iterator operator--(int) { auto old = *this; --at_; return old; }
        const_iterator& operator+=(difference_type n) { at_ += n; return *this; }
        const_iterator& operator-=(difference_type n) { at_ -= n; return *this; }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b) { return a.at_ - b.at_; }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.at_ == b.at_; }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.at_ <=> b.at_; }

    private:
        const std::vector<FileEntry>* records_ = nullptr;
        const uint32_t* at_ = nullptr;
    };
    using iterator = const_iterator;
    using value_type = FileEntry;
    using size_type = size_t;

    ReportRows() = default;
    // Every position must be below records->size().
    ReportRows(Records records, std::vector<uint32_t> positions)
        : records_(std::move(records)), positions_(std::move(positions))
    {
    }
    // Every record of the list, in its order.
    static ReportRows all(Records records)
    {
        std::vector<uint32_t> positions(records ? records->size() : 0);
        for (size_t i = 0; i < positions.size(); ++i) positions[i] = static_cast<uint32_t>(i);
        return ReportRows(std::move(records), std::move(positions));
    }

    size_t size() const { return positions_.size(); }
    bool empty() const { return positions_.empty(); }
    const FileEntry& operator[](size_t i) const { return (*records_)[positions_[i]]; }
    const FileEntry& front() const { return (*this)[0]; }
    const FileEntry& back() const { return (*this)[size() - 1]; }
    const_iterator begin() const { return {records_.get(), positions_.data()}; }
    const_iterator end() const { return {records_.get(), positions_.data() + positions_.size()}; }
    const std::vector<uint32_t>& positions() const { return positions_; }
    // A copy of the rows, for code that keeps records of its own.
    std::vector<FileEntry> toVector() const { return {begin(), end()}; }

    bool operator==(const ReportRows& other) const { return std::equal(begin(), end(), other.begin(), other.end()); }

private:
    Records records_;
    std::vector<uint32_t> positions_;
};
