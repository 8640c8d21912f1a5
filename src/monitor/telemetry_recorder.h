#pragma once
// The recording behind the telemetry plots: every value the panel can show, sampled from every
// decoded frame of the selected device at its time of arrival, in one ring per value.
//
// Memory is bounded: each value keeps its last kSamplesPerSeries samples (time as a double,
// value as a float: 12 bytes), so all 25 values together hold at most 25 x 65,536 x 12 bytes
// (about 19 MiB), however long the bus runs. At the fastest telemetry rate usual on a bus
// (100 messages/s per offset) a ring holds almost 11 minutes, more than the widest span shown.
//
// Times are seconds since the recording's origin (the arrival of its first sample); the
// wall clock may step back, so a sample is never placed before the one recorded last.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "monitor/telemetry_readings.h"
#include "monitor/telemetry_values.h"

namespace qv {

class SampleRing {
  public:
    explicit SampleRing(std::size_t capacity) : capacity_(capacity) {}

    void push(double t, float v);
    void clear();
    std::size_t size() const { return size_; }
    std::size_t capacity() const { return capacity_; }
    // Oldest first.
    double time(std::size_t i) const { return times_[slot(i)]; }
    float value(std::size_t i) const { return values_[slot(i)]; }
    // First sample at or after t (size() when none).
    std::size_t lowerBound(double t) const;
    // Bytes held (grows with the samples up to the capacity, never beyond).
    std::size_t bytes() const {
        return times_.capacity() * sizeof(double) + values_.capacity() * sizeof(float);
    }

  private:
    std::size_t slot(std::size_t i) const {
        const std::size_t s = start_ + i;
        return s < capacity_ ? s : s - capacity_;
    }
    std::size_t capacity_;
    std::vector<double> times_;
    std::vector<float> values_;
    std::size_t start_ = 0;
    std::size_t size_ = 0;
};

struct RecordedSeries {
    int cell = 0;
    std::string
        unit;  // the unit the samples are in ("V", "rpm", "\u00B0C"); a new unit restarts it
    SampleRing samples;
    std::uint64_t total = 0;  // samples recorded, also those the ring let go
};

class TelemetryRecorder {
  public:
    static constexpr std::size_t kSamplesPerSeries = 65536;

    explicit TelemetryRecorder(std::size_t samplesPerSeries = kSamplesPerSeries);

    // A frame of the selected device at `offset` was decoded into `values`; it arrived at
    // `arrivalNs` (wall clock, ns since 1970). Records the cells it writes.
    void record(std::int64_t arrivalNs, std::uint32_t offset, const TelemetryValues& values,
                std::int32_t deviceType);
    // Another device: everything recorded goes.
    void clear();

    // One per cell of readingCells(), in that order.
    std::span<const RecordedSeries> series() const { return series_; }
    const RecordedSeries* find(int cell) const;
    // Wall-clock time of t = 0 (ns since 1970; 0 while nothing was recorded).
    std::int64_t originNs() const { return originNs_; }
    // Time of the latest sample (0 while none).
    double latest() const { return latest_; }
    // Grows with every sample and every clear(): a view redraws only when it changed.
    std::uint64_t revision() const { return revision_; }
    std::size_t bytes() const;

  private:
    std::vector<RecordedSeries> series_;
    std::int64_t originNs_ = 0;
    double latest_ = 0;
    std::uint64_t revision_ = 0;
    bool started_ = false;
};

// The shown span [from, to] of the chosen series as CSV text: the header "Time (s)" and one
// column per series named by `names` (the telemetry log's name where it has one), then one row
// per time at which any of them has a sample: the time with 6 decimals, each value as recorded
// (the float in its shortest exact form, '.' point whatever the locale, no exponent); a series
// without a sample at that time leaves its field empty. Line feeds; ASCII when the names are.
std::string exportCsv(const TelemetryRecorder& recorder, std::span<const int> cells,
                      std::span<const std::string> names, double from, double to);

}  // namespace qv
