#pragma once
// A plain timer with the form's semantics: Enabled and Interval are independent
// properties, and an enabled timer with interval 0 does not tick (a QTimer
// with interval 0 would fire continuously).
#include <QObject>
#include <QTimer>
#include <functional>

class TTimer : public QObject {
    Q_OBJECT
public:
    explicit TTimer(QObject* parent = nullptr);

    bool Enabled() const { return enabled_; }
    void setEnabled(bool enabled);
    int Interval() const { return interval_; }
    void setInterval(int ms);

    std::function<void()> OnTimer;

private:
    void apply();
    QTimer timer_;
    bool enabled_ = true;
    int interval_ = 1000;
};
