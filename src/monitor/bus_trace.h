#pragma once
// The Bus Monitor window's model without Qt: every frame the program takes from the bus, kept
// in a bounded ring as it arrives, two views of it (the trace, one row per frame; and one row
// per identifier with its count, period and last data), filters, pause, and candump logs.
//
// How a window uses it (all on the GUI thread): the CAN port's raw hook calls add() for every
// frame the queue drain takes; once per tick the window calls takeChanges() and applies what it
// says to its item models in one go (at most one removal at the front and one insertion at the
// end of the trace, or one reset). Between two takeChanges() the rows the views count stay as
// they were, so a view may ask for any of them at any time.
//
// Memory is bounded: the ring keeps the last kCapacity frames (24 bytes each, 24 MiB; about two
// minutes of a full 1 Mbit/s bus), the trace view an 8-byte index per shown frame, and the
// per-identifier table at most kMaxIdentifiers identifiers (frames of further identifiers are
// counted in otherIdentifierFrames() only).
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "link/can_frame.h"
#include "monitor/candump.h"

namespace qv {

struct TraceEntry {
    std::int64_t timeNs = 0;  // wall clock of arrival, ns since 1970
    CanFrame frame;
};

// Identifiers first..last (inclusive), standard and extended alike.
struct IdRange {
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    bool operator==(const IdRange&) const = default;
};
// "100-1FF, 400 18FF0000-18FFFFFF": hexadecimal identifiers (an optional "0x"), ranges with
// '-', separated by commas or blanks. Empty text: no ranges. On an error: nothing, and `error`
// names the part that is wrong.
std::optional<std::vector<IdRange>> parseIdRanges(std::string_view text, std::string& error);

struct TraceFilter {
    std::vector<IdRange> ranges;              // empty: every identifier
    std::optional<std::uint32_t> deviceBase;  // standard frames base .. base + 0x1F only
    bool accepts(const CanFrame& frame) const;
    bool operator==(const TraceFilter&) const = default;
};

struct IdStats {
    std::uint32_t identifier = 0;
    bool extended = false;
    std::uint64_t count = 0;
    std::int64_t firstNs = 0;
    std::int64_t previousNs = 0;
    std::int64_t lastNs = 0;
    CanFrame last;
    // The interval between the last two frames, and the mean interval since the first, in ms;
    // nothing before the second frame.
    std::optional<double> periodMs() const;
    std::optional<double> meanPeriodMs() const;
};

// What the views must do since the previous takeChanges(), in this order.
struct MonitorChanges {
    bool reset = false;                   // both views anew (filter, clear, load): nothing else
    std::size_t traceRemoved = 0;         // trace rows 0 .. traceRemoved - 1 went (the ring let go)
    std::size_t traceInserted = 0;        // rows appended at the end
    std::vector<std::size_t> idInserted;  // per-identifier rows inserted, final positions, rising
    std::optional<std::size_t> idChangedFirst;  // per-identifier rows whose figures changed
    std::size_t idChangedLast = 0;
    bool any() const {
        return reset || traceRemoved || traceInserted || !idInserted.empty() || idChangedFirst;
    }
};

// The trace view's columns.
enum TraceColumn : int { kTraceTime, kTraceId, kTraceLength, kTraceData, kTraceHint };
inline constexpr int kTraceColumns = 5;
// The per-identifier view's columns.
enum IdColumn : int { kIdId, kIdCount, kIdPeriod, kIdMeanPeriod, kIdLength, kIdData, kIdHint };
inline constexpr int kIdColumns = 7;

class BusMonitorModel {
  public:
    static constexpr std::size_t kCapacity = std::size_t{1} << 20;
    static constexpr std::size_t kMaxIdentifiers = 4096;
    // Decoded meaning of a frame ("" none), asked when a row's text is first made.
    using Hinter = std::function<std::string(const CanFrame&)>;

    explicit BusMonitorModel(std::size_t capacity = kCapacity);

    // A frame taken from the bus (ignored while paused).
    void add(std::int64_t timeNs, const CanFrame& frame);
    MonitorChanges takeChanges();

    void setHinter(Hinter hinter) { hinter_ = std::move(hinter); }
    void setFilter(TraceFilter filter);
    const TraceFilter& filter() const { return filter_; }
    // Paused: frames are not recorded (counted in notRecorded()). Resuming after load()
    // starts a new live recording (the log is still in its file).
    void setPaused(bool paused);
    // The recording came from load().
    bool offline() const { return offline_; }
    bool paused() const { return paused_; }
    // Forgets every frame and every identifier.
    void clear();

    // The views as of the last takeChanges().
    std::size_t traceRows() const { return rows_.size(); }
    // nullptr when the ring has let the row's frame go (its row goes at the next tick).
    const TraceEntry* traceEntry(std::size_t row) const;
    // The text of a trace cell, made on first use and cached.
    const std::string& traceText(std::size_t row, int column);
    std::size_t idRows() const { return idOrder_.size(); }
    const IdStats& idRow(std::size_t row) const { return slots_[idOrder_[row]]; }
    std::string idText(std::size_t row, int column) const;

    // Recording figures.
    std::uint64_t framesRecorded() const { return recorded_; }
    std::size_t framesHeld() const { return static_cast<std::size_t>(end_ - begin_); }
    std::uint64_t notRecorded() const { return notRecorded_; }
    std::uint64_t otherIdentifierFrames() const { return otherIds_; }
    // Wall-clock time shown as 0.000000 in the time column (the first frame since clear()).
    std::int64_t originNs() const { return originNs_; }

    // candump log of the shown trace rows, or of every frame held.
    std::string candump(bool shownOnly) const;
    // Replaces the recording with `records` (the last kCapacity of them when there are more)
    // and pauses, so that live frames do not mix with the log. Returns the frames kept.
    std::size_t load(const std::vector<CandumpRecord>& records);

  private:
    struct CachedRow {
        std::uint64_t index = ~std::uint64_t{0};
        std::string texts[kTraceColumns];
    };
    const TraceEntry& at(std::uint64_t index) const {
        return ring_[static_cast<std::size_t>(index % capacity_)];
    }
    void record(std::int64_t timeNs, const CanFrame& frame);
    void rebuildViews();
    bool idAccepted(const IdStats& s) const;
    std::size_t idPosition(std::size_t slot) const;

    std::size_t capacity_;
    std::vector<TraceEntry> ring_;
    std::uint64_t begin_ = 0;             // absolute index of the oldest frame held
    std::uint64_t end_ = 0;               // one past the newest
    std::deque<std::uint64_t> rows_;      // shown trace rows: absolute indices
    std::vector<std::uint64_t> pending_;  // accepted since the last tick
    std::vector<CachedRow> cache_;

    std::unordered_map<std::uint64_t, std::size_t> slotOf_;  // key (extended << 32 | id) -> slot
    std::vector<IdStats> slots_;
    std::vector<std::size_t> idOrder_;  // shown slots, sorted by key
    std::size_t slotsShown_ = 0;        // slots_ before this index were considered for idOrder_
    std::vector<std::size_t> touched_;  // slots changed since the last tick
    std::vector<bool> touchedFlag_;

    TraceFilter filter_;
    Hinter hinter_;
    bool paused_ = false;
    bool offline_ = false;
    bool resetPending_ = true;
    std::uint64_t recorded_ = 0;
    std::uint64_t notRecorded_ = 0;
    std::uint64_t otherIds_ = 0;
    std::int64_t originNs_ = 0;
    bool hasOrigin_ = false;
};

}  // namespace qv
