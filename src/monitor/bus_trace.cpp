#include "monitor/bus_trace.h"

#include <algorithm>
#include <cstdio>

#include "monitor/number_text.h"

namespace qv {

namespace {

constexpr std::size_t kCacheRows = 4096;  // a few screens of rows

std::uint64_t keyOf(std::uint32_t id, bool extended) {
    return (std::uint64_t{extended} << 32) | id;
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

std::optional<std::uint32_t> parseHexId(std::string_view s) {
    s = trim(s);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) s.remove_prefix(2);
    if (s.empty() || s.size() > 8) return std::nullopt;
    std::uint32_t v = 0;
    for (const char c : s) {
        int d = -1;
        if (c >= '0' && c <= '9') d = c - '0';
        if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
        if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
        if (d < 0) return std::nullopt;
        v = v * 16 + static_cast<std::uint32_t>(d);
    }
    if (v > 0x1FFFFFFF) return std::nullopt;
    return v;
}

void appendId(std::string& out, const CanFrame& f) {
    char text[16];
    const int n = std::snprintf(text, sizeof text, f.extended() ? "%08X x" : "%03X",
                                static_cast<unsigned>(f.identifier()));
    out.append(text, static_cast<std::size_t>(n));
}

void appendData(std::string& out, const CanFrame& f) {
    if (f.remote()) {
        out += "remote request";
        return;
    }
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::size_t bytes = f.length() < 8 ? f.length() : 8;
    for (std::size_t i = 0; i < bytes; ++i) {
        if (i) out += ' ';
        out += kHex[f.data()[i] >> 4];
        out += kHex[f.data()[i] & 0xF];
    }
}

}  // namespace

std::optional<std::vector<IdRange>> parseIdRanges(std::string_view text, std::string& error) {
    std::vector<IdRange> ranges;
    std::size_t at = 0;
    while (at < text.size()) {
        const std::size_t end = text.find_first_of(", \t", at);
        const std::string_view part =
            text.substr(at, end == std::string_view::npos ? text.npos : end - at);
        at = end == std::string_view::npos ? text.size() : end + 1;
        if (trim(part).empty()) continue;
        const std::size_t dash = part.find('-');
        const auto first = parseHexId(part.substr(0, dash));
        const auto last =
            dash == std::string_view::npos ? first : parseHexId(part.substr(dash + 1));
        if (!first || !last || *last < *first) {
            error = "\"" + std::string(trim(part)) +
                    "\" is not an identifier or range (hexadecimal, e.g. 100-1FF)";
            return std::nullopt;
        }
        ranges.push_back({*first, *last});
    }
    return ranges;
}

bool TraceFilter::accepts(const CanFrame& f) const {
    if (deviceBase) {
        if (f.extended() || f.identifier() < *deviceBase || f.identifier() > *deviceBase + 0x1F)
            return false;
    }
    if (ranges.empty()) return true;
    for (const IdRange& r : ranges)
        if (f.identifier() >= r.first && f.identifier() <= r.last) return true;
    return false;
}

std::optional<double> IdStats::periodMs() const {
    if (count < 2) return std::nullopt;
    return static_cast<double>(lastNs - previousNs) / 1e6;
}

std::optional<double> IdStats::meanPeriodMs() const {
    if (count < 2) return std::nullopt;
    return static_cast<double>(lastNs - firstNs) / 1e6 / static_cast<double>(count - 1);
}

BusMonitorModel::BusMonitorModel(std::size_t capacity)
    : capacity_(std::max<std::size_t>(capacity, 1)), cache_(kCacheRows) {}

void BusMonitorModel::add(std::int64_t timeNs, const CanFrame& frame) {
    if (paused_) {
        ++notRecorded_;
        return;
    }
    record(timeNs, frame);
}

void BusMonitorModel::record(std::int64_t timeNs, const CanFrame& frame) {
    if (!hasOrigin_) {
        hasOrigin_ = true;
        originNs_ = timeNs;
    }
    // The ring grows with the recording up to its capacity, then the oldest frame goes.
    const std::uint64_t index = end_++;
    const std::size_t slot = static_cast<std::size_t>(index % capacity_);
    if (slot == ring_.size())
        ring_.push_back(TraceEntry{timeNs, frame});
    else
        ring_[slot] = TraceEntry{timeNs, frame};
    if (end_ - begin_ > capacity_) ++begin_;
    ++recorded_;
    if (filter_.accepts(frame)) {
        pending_.push_back(index);
        // Ticks that do not come (a modal box) must not let this grow past the ring.
        if (pending_.size() > 2 * capacity_) {
            pending_.erase(pending_.begin(),
                           pending_.begin() + static_cast<std::ptrdiff_t>(capacity_));
        }
    }

    const std::uint64_t key = keyOf(frame.identifier(), frame.extended());
    auto it = slotOf_.find(key);
    if (it == slotOf_.end()) {
        if (slots_.size() >= kMaxIdentifiers) {
            ++otherIds_;
            return;
        }
        it = slotOf_.emplace(key, slots_.size()).first;
        IdStats s;
        s.identifier = frame.identifier();
        s.extended = frame.extended();
        s.firstNs = timeNs;
        slots_.push_back(s);
        touchedFlag_.push_back(false);
    }
    IdStats& s = slots_[it->second];
    ++s.count;
    s.previousNs = s.count > 1 ? s.lastNs : timeNs;
    s.lastNs = timeNs;
    s.last = frame;
    if (!touchedFlag_[it->second]) {
        touchedFlag_[it->second] = true;
        touched_.push_back(it->second);
    }
}

bool BusMonitorModel::idAccepted(const IdStats& s) const {
    return filter_.accepts(CanFrame(s.identifier, s.extended, false, 0));
}

std::size_t BusMonitorModel::idPosition(std::size_t slot) const {
    const std::uint64_t key = keyOf(slots_[slot].identifier, slots_[slot].extended);
    const auto pos = std::lower_bound(
        idOrder_.begin(), idOrder_.end(), key, [this](std::size_t s, std::uint64_t k) {
            return keyOf(slots_[s].identifier, slots_[s].extended) < k;
        });
    return static_cast<std::size_t>(pos - idOrder_.begin());
}

void BusMonitorModel::rebuildViews() {
    rows_.clear();
    pending_.clear();
    for (std::uint64_t i = begin_; i < end_; ++i)
        if (filter_.accepts(at(i).frame)) rows_.push_back(i);
    idOrder_.clear();
    for (std::size_t s = 0; s < slots_.size(); ++s)
        if (idAccepted(slots_[s])) idOrder_.push_back(s);
    std::sort(idOrder_.begin(), idOrder_.end(), [this](std::size_t a, std::size_t b) {
        return keyOf(slots_[a].identifier, slots_[a].extended) <
               keyOf(slots_[b].identifier, slots_[b].extended);
    });
    slotsShown_ = slots_.size();
    for (const std::size_t s : touched_) touchedFlag_[s] = false;
    touched_.clear();
}

MonitorChanges BusMonitorModel::takeChanges() {
    MonitorChanges c;
    if (resetPending_) {
        resetPending_ = false;
        rebuildViews();
        c.reset = true;
        return c;
    }
    while (!rows_.empty() && rows_.front() < begin_) {
        rows_.pop_front();
        ++c.traceRemoved;
    }
    for (const std::uint64_t index : pending_) {
        if (index < begin_) continue;  // came and went within one tick
        rows_.push_back(index);
        ++c.traceInserted;
    }
    pending_.clear();

    for (; slotsShown_ < slots_.size(); ++slotsShown_) {
        if (!idAccepted(slots_[slotsShown_])) continue;
        const std::size_t pos = idPosition(slotsShown_);
        idOrder_.insert(idOrder_.begin() + static_cast<std::ptrdiff_t>(pos), slotsShown_);
        for (std::size_t& p : c.idInserted)
            if (p >= pos) ++p;
        c.idInserted.push_back(pos);
    }
    std::sort(c.idInserted.begin(), c.idInserted.end());
    for (const std::size_t s : touched_) {
        touchedFlag_[s] = false;
        if (!idAccepted(slots_[s])) continue;
        const std::size_t pos = idPosition(s);
        if (pos >= idOrder_.size() || idOrder_[pos] != s) continue;
        if (!c.idChangedFirst || pos < *c.idChangedFirst) c.idChangedFirst = pos;
        c.idChangedLast = std::max(c.idChangedLast, pos);
    }
    touched_.clear();
    return c;
}

void BusMonitorModel::setPaused(bool paused) {
    if (!paused && offline_) {
        clear();
        offline_ = false;
    }
    paused_ = paused;
}

void BusMonitorModel::setFilter(TraceFilter filter) {
    if (filter == filter_) return;
    filter_ = std::move(filter);
    resetPending_ = true;
}

void BusMonitorModel::clear() {
    begin_ = end_;
    rows_.clear();
    pending_.clear();
    slotOf_.clear();
    slots_.clear();
    touchedFlag_.clear();
    touched_.clear();
    slotsShown_ = 0;
    recorded_ = notRecorded_ = otherIds_ = 0;
    hasOrigin_ = false;
    originNs_ = 0;
    resetPending_ = true;
}

const TraceEntry* BusMonitorModel::traceEntry(std::size_t row) const {
    if (row >= rows_.size()) return nullptr;
    const std::uint64_t index = rows_[row];
    return index < begin_ ? nullptr : &at(index);
}

const std::string& BusMonitorModel::traceText(std::size_t row, int column) {
    static const std::string kNone;
    if (row >= rows_.size() || column < 0 || column >= kTraceColumns) return kNone;
    const std::uint64_t index = rows_[row];
    if (index < begin_) return kNone;
    CachedRow& c = cache_[index % cache_.size()];
    if (c.index != index) {
        c.index = index;
        const TraceEntry& e = at(index);
        for (std::string& t : c.texts) t.clear();
        appendFixed(c.texts[kTraceTime], static_cast<double>(e.timeNs - originNs_) / 1e9, 6);
        appendId(c.texts[kTraceId], e.frame);
        appendInt(c.texts[kTraceLength], e.frame.length());
        appendData(c.texts[kTraceData], e.frame);
        if (hinter_) c.texts[kTraceHint] = hinter_(e.frame);
    }
    return c.texts[column];
}

std::string BusMonitorModel::idText(std::size_t row, int column) const {
    if (row >= idOrder_.size()) return {};
    const IdStats& s = idRow(row);
    std::string t;
    switch (column) {
        case kIdId:
            appendId(t, s.last.identifier() == s.identifier
                            ? s.last
                            : CanFrame(s.identifier, s.extended, false, 0));
            break;
        case kIdCount:
            appendInt(t, static_cast<std::int64_t>(s.count));
            break;
        case kIdPeriod:
            if (const auto p = s.periodMs()) appendFixed(t, *p, 1);
            break;
        case kIdMeanPeriod:
            if (const auto p = s.meanPeriodMs()) appendFixed(t, *p, 1);
            break;
        case kIdLength:
            appendInt(t, s.last.length());
            break;
        case kIdData:
            appendData(t, s.last);
            break;
        case kIdHint:
            if (hinter_) t = hinter_(s.last);
            break;
        default:
            break;
    }
    return t;
}

std::string BusMonitorModel::candump(bool shownOnly) const {
    std::string out;
    if (shownOnly) {
        out.reserve(rows_.size() * 40);
        for (const std::uint64_t index : rows_)
            if (index >= begin_) appendCandumpLine(out, at(index).timeNs, at(index).frame);
    } else {
        out.reserve(framesHeld() * 40);
        for (std::uint64_t i = begin_; i < end_; ++i)
            appendCandumpLine(out, at(i).timeNs, at(i).frame);
    }
    return out;
}

std::size_t BusMonitorModel::load(const std::vector<CandumpRecord>& records) {
    clear();
    const std::size_t skip = records.size() > capacity_ ? records.size() - capacity_ : 0;
    for (std::size_t i = skip; i < records.size(); ++i) record(records[i].timeNs, records[i].frame);
    paused_ = true;
    offline_ = true;
    return records.size() - skip;
}

}  // namespace qv
