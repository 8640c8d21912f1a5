#include "monitor/telemetry_recorder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

#include "monitor/number_text.h"

namespace qv {

void SampleRing::push(double t, float v) {
    if (capacity_ == 0) return;
    if (times_.size() < capacity_) {
        times_.push_back(t);
        values_.push_back(v);
        ++size_;
        return;
    }
    times_[start_] = t;
    values_[start_] = v;
    start_ = start_ + 1 == capacity_ ? 0 : start_ + 1;
}

void SampleRing::clear() {
    times_.clear();
    values_.clear();
    times_.shrink_to_fit();
    values_.shrink_to_fit();
    start_ = size_ = 0;
}

std::size_t SampleRing::lowerBound(double t) const {
    std::size_t lo = 0, hi = size_;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (time(mid) < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

TelemetryRecorder::TelemetryRecorder(std::size_t samplesPerSeries) {
    for (const int cell : readingCells())
        series_.push_back(RecordedSeries{cell, {}, SampleRing(samplesPerSeries), 0});
}

const RecordedSeries* TelemetryRecorder::find(int cell) const {
    for (const RecordedSeries& s : series_)
        if (s.cell == cell) return &s;
    return nullptr;
}

void TelemetryRecorder::record(std::int64_t arrivalNs, std::uint32_t offset,
                               const TelemetryValues& values, std::int32_t deviceType) {
    CellReadings readings;
    const std::size_t n = cellReadings(offset, values, deviceType, readings);
    if (n == 0) return;
    if (!started_) {
        started_ = true;
        originNs_ = arrivalNs;
    }
    const double t = std::max(latest_, static_cast<double>(arrivalNs - originNs_) / 1e9);
    latest_ = t;
    for (std::size_t i = 0; i < n; ++i) {
        const CellReading& r = readings[i];
        const auto it = std::find_if(series_.begin(), series_.end(),
                                     [&r](const RecordedSeries& s) { return s.cell == r.cell; });
        if (it == series_.end()) continue;  // a hidden cell
        const char* unit = r.unit[0] == ' ' ? r.unit + 1 : r.unit;
        if (it->unit != unit) {
            // Another mode shows this cell in another unit: the old samples do not compare.
            it->samples.clear();
            it->unit = unit;
        }
        it->samples.push(t, static_cast<float>(r.value));
        ++it->total;
    }
    ++revision_;
}

void TelemetryRecorder::clear() {
    for (RecordedSeries& s : series_) {
        s.samples.clear();
        s.unit.clear();
        s.total = 0;
    }
    started_ = false;
    originNs_ = 0;
    latest_ = 0;
    ++revision_;
}

std::size_t TelemetryRecorder::bytes() const {
    std::size_t sum = 0;
    for (const RecordedSeries& s : series_) sum += s.samples.bytes();
    return sum;
}

std::string exportCsv(const TelemetryRecorder& recorder, std::span<const int> cells,
                      std::span<const std::string> names, double from, double to) {
    std::string out = "Time (s)";
    struct Column {
        const RecordedSeries* series;
        std::size_t next;
        std::size_t end;
    };
    std::vector<Column> columns;
    const double after = std::nextafter(to, std::numeric_limits<double>::infinity());
    for (std::size_t i = 0; i < cells.size(); ++i) {
        out += ',';
        if (i < names.size()) out += names[i];
        const RecordedSeries* s = recorder.find(cells[i]);
        columns.push_back(s ? Column{s, s->samples.lowerBound(from), s->samples.lowerBound(after)}
                            : Column{nullptr, 0, 0});
    }
    out += '\n';
    char number[64];
    for (;;) {
        double t = std::numeric_limits<double>::infinity();
        for (const Column& c : columns)
            if (c.series && c.next < c.end) t = std::min(t, c.series->samples.time(c.next));
        if (t == std::numeric_limits<double>::infinity()) break;
        appendFixed(out, t, 6);
        for (Column& c : columns) {
            out += ',';
            if (!c.series || c.next >= c.end || c.series->samples.time(c.next) != t) continue;
            // Two samples of one value at the same time: the later one is the value that held.
            while (c.next + 1 < c.end && c.series->samples.time(c.next + 1) == t) ++c.next;
            // The float as recorded, in its shortest exact form without an exponent.
            const auto r = std::to_chars(number, number + sizeof number,
                                         c.series->samples.value(c.next), std::chars_format::fixed);
            out.append(number, r.ptr);
            ++c.next;
        }
        out += '\n';
    }
    return out;
}

}  // namespace qv
