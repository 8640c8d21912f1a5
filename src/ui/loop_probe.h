#pragma once
// Measures how promptly the GUI thread's event loop runs: a timer asks for a call every
// period; each call's lateness is a sample, and the longest gap between calls is the longest
// stall. For the load benchmark (qvconfig --stats).
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <vector>

namespace qv::ui {

class LoopProbe : public QObject {
    Q_OBJECT

  public:
    explicit LoopProbe(int periodMs = 5, QObject* parent = nullptr);
    void start();

    double longestStallMs() const { return longestGapMs_; }
    // The p-th percentile (0..100) of the lateness of the calls, in ms.
    double latencyPercentileMs(double p) const;
    std::size_t samples() const { return lateness_.size(); }

  private:
    void onTimeout();

    int periodMs_;
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 lastNs_ = -1;
    double longestGapMs_ = 0;
    std::vector<float> lateness_;
};

}  // namespace qv::ui
