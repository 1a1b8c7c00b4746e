#include "platform/PropertyList.h"

#include "platform/RegularFile.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr std::string_view kBinaryMagic = "bplist00";

// XML: every element opened and not yet closed counts as a level. The places the scan skips
// (comments, CDATA, declarations) end exactly where the parser's do; anything the two could
// read differently (an unbalanced quote in a tag, a closing tag that does not match, a
// bracketed document type) is refused rather than guessed.
bool xmlWithin(std::string_view data, size_t maxDepth, size_t maxNodes)
{
    std::vector<std::string_view> open;
    size_t nodes = 0;
    size_t at = 0;
    auto skipPast = [&](size_t from, std::string_view end) {
        size_t found = data.find(end, from);
        return found == std::string_view::npos ? found : found + end.size();
    };
    while ((at = data.find('<', at)) != std::string_view::npos) {
        std::string_view rest = data.substr(at);
        size_t next;
        if (rest.starts_with("<!--")) {
            next = skipPast(at + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            next = skipPast(at + 9, "]]>");
        } else if (rest.starts_with("<?")) {
            next = skipPast(at + 2, "?>");
            if (next != std::string_view::npos && data.substr(at, next - at - 1).find('>') != std::string_view::npos)
                return false;
        } else if (rest.starts_with("<!DOCTYPE")) {
            next = skipPast(at, ">");
            if (next != std::string_view::npos && data.substr(at + 1, next - at - 1).find_first_of("[<") != std::string_view::npos)
                return false;
        } else if (rest.starts_with("<!")) {
            return false;
        } else {
            size_t close = data.find('>', at);
            if (close == std::string_view::npos) return false;
            std::string_view tag = data.substr(at + 1, close - at - 1);
            if (tag.find('<') != std::string_view::npos) return false;
            size_t doubles = 0, singles = 0;
            for (char c : tag) {
                doubles += c == '"';
                singles += c == '\'';
            }
            if (doubles % 2 || singles % 2) return false;
            bool closing = !tag.empty() && tag.front() == '/';
            bool empty = !tag.empty() && tag.back() == '/';
            std::string_view name = tag.substr(closing ? 1 : 0);
            name = name.substr(0, std::min(name.find_first_of(" \t\r\n/"), name.size()));
            if (closing) {
                if (open.empty() || open.back() != name) return false;
                open.pop_back();
            } else {
                if (++nodes > maxNodes) return false;
                if (!empty) {
                    open.push_back(name);
                    if (open.size() > maxDepth) return false;
                }
            }
            next = close + 1;
        }
        if (next == std::string_view::npos) return false;
        at = next;
    }
    return true;
}

uint64_t bigEndian(const unsigned char* p, size_t size)
{
    uint64_t value = 0;
    for (size_t i = 0; i < size; ++i) value = (value << 8) | p[i];
    return value;
}

// Binary: the objects form a graph through their references; the parser expands it into a
// tree, so the depth and the size of that tree are measured over the graph, each object
// once, without recursion. A cycle is refused.
class BinaryMeasure {
public:
    explicit BinaryMeasure(std::string_view data)
        : bytes_(reinterpret_cast<const unsigned char*>(data.data())), size_(data.size())
    {
    }

    bool within(size_t maxDepth, size_t maxNodes)
    {
        if (size_ < kBinaryMagic.size() + 32) return false;
        const unsigned char* trailer = bytes_ + size_ - 32;
        offsetSize_ = trailer[6];
        refSize_ = trailer[7];
        uint64_t count = bigEndian(trailer + 8, 8);
        uint64_t root = bigEndian(trailer + 16, 8);
        uint64_t table = bigEndian(trailer + 24, 8);
        if (offsetSize_ < 1 || offsetSize_ > 8 || refSize_ < 1 || refSize_ > 8) return false;
        if (count == 0 || root >= count || table < kBinaryMagic.size() || table >= size_ - 32) return false;
        if (count > (size_ - 32 - table) / offsetSize_) return false;
        count_ = static_cast<size_t>(count);
        table_ = static_cast<size_t>(table);

        // Per object: 0 unseen, 1 on the walk's path, 2 measured.
        std::vector<uint8_t> state(count_, 0);
        std::vector<uint32_t> depth(count_, 0);
        std::vector<uint64_t> weight(count_, 0);
        struct Frame {
            size_t object;
            size_t children; // references
            size_t refs;     // where they start
            size_t next;     // the next one to visit
        };
        std::vector<Frame> path;
        auto enter = [&](size_t object) {
            Frame frame{object, 0, 0, 0};
            if (!childrenOf(object, frame.children, frame.refs)) return false;
            state[object] = 1;
            path.push_back(frame);
            return true;
        };
        if (!enter(static_cast<size_t>(root))) return false;
        while (!path.empty()) {
            Frame& frame = path.back();
            if (frame.next < frame.children) {
                uint64_t child = bigEndian(bytes_ + frame.refs + frame.next * refSize_, refSize_);
                ++frame.next;
                if (child >= count_ || state[child] == 1) return false;
                if (state[child] == 0) {
                    if (path.size() > maxDepth) return false;
                    if (!enter(static_cast<size_t>(child))) return false;
                }
                continue;
            }
            uint32_t deepest = 0;
            uint64_t total = 1;
            for (size_t i = 0; i < frame.children; ++i) {
                size_t child = static_cast<size_t>(bigEndian(bytes_ + frame.refs + i * refSize_, refSize_));
                deepest = std::max(deepest, depth[child]);
                total += weight[child];
                if (total > maxNodes) return false;
            }
            bool container = frame.children > 0 || isContainer(frame.object);
            depth[frame.object] = deepest + (container ? 1 : 0);
            if (depth[frame.object] > maxDepth) return false;
            weight[frame.object] = total;
            state[frame.object] = 2;
            path.pop_back();
        }
        return true;
    }

private:
    bool offsetOf(size_t object, size_t& offset) const
    {
        uint64_t value = bigEndian(bytes_ + table_ + object * offsetSize_, offsetSize_);
        if (value < kBinaryMagic.size() || value >= table_) return false;
        offset = static_cast<size_t>(value);
        return true;
    }

    bool isContainer(size_t object) const
    {
        size_t offset = 0;
        if (!offsetOf(object, offset)) return false;
        unsigned type = bytes_[offset] >> 4;
        return type == 0xA || type == 0xC || type == 0xD;
    }

    // The references an object holds (arrays and sets: its items; dictionaries: keys, then
    // values) and where they lie; none for the other types.
    bool childrenOf(size_t object, size_t& children, size_t& refs) const
    {
        size_t offset = 0;
        if (!offsetOf(object, offset)) return false;
        unsigned marker = bytes_[offset];
        unsigned type = marker >> 4;
        children = 0;
        refs = 0;
        if (type != 0xA && type != 0xC && type != 0xD) return true;
        uint64_t length = marker & 0xF;
        size_t at = offset + 1;
        if (length == 0xF) {
            if (at >= table_ || (bytes_[at] >> 4) != 0x1 || (bytes_[at] & 0xF) > 3) return false;
            size_t intSize = size_t{1} << (bytes_[at] & 0xF);
            if (at + 1 + intSize > table_) return false;
            length = bigEndian(bytes_ + at + 1, intSize);
            at += 1 + intSize;
        }
        uint64_t count = type == 0xD ? length * 2 : length;
        if (length > table_ || count > (table_ - at) / refSize_) return false;
        children = static_cast<size_t>(count);
        refs = at;
        return true;
    }

    const unsigned char* bytes_;
    size_t size_;
    size_t offsetSize_ = 0;
    size_t refSize_ = 0;
    size_t count_ = 0;
    size_t table_ = 0;
};

} // namespace

namespace PropertyList {

bool within(std::string_view data, size_t depth, size_t nodes)
{
    if (data.starts_with(kBinaryMagic)) return BinaryMeasure(data).within(depth, nodes);
    return xmlWithin(data, depth, nodes);
}

Ptr parse(std::string_view data)
{
    if (data.empty() || data.size() > UINT32_MAX || !within(data)) return nullptr;
    plist_t root = nullptr;
    plist_from_memory(data.data(), static_cast<uint32_t>(data.size()), &root);
    return Ptr(root);
}

Ptr readFile(const std::string& path, size_t limit)
{
    try {
        std::optional<std::string> data = RegularFile::read(path, limit);
        return data ? parse(*data) : nullptr;
    } catch (const std::exception&) {
        return nullptr;
    }
}

std::optional<std::string> stringValue(plist_t dict, const char* key)
{
    plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    if (!text) return std::string();
    return std::string(text, length);
}

} // namespace PropertyList
