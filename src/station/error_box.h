#pragma once
// The station's error box and the guard every event handler runs through.
//
// Exceptions never cross a Qt frame: a handler connected with guarded() runs
// inside a try block, and whatever it throws is handed to the error box,
// after which the event loop goes on with the next event. The box is one
// object; tests replace its presenter to collect messages instead of showing
// them. While a box with some message is open, the same message raised again
// (a tick that fails every 2 s) opens no second box.
#include <QString>
#include <functional>
#include <set>
#include <utility>

class ErrorBox {
public:
    using Presenter = std::function<void(const QString& message)>;

    static ErrorBox& instance();

    // Shows the message unless an identical one is open right now.
    void show(const QString& message);

    // Replaces how a message is presented (default: a modal critical box).
    // Returns the previous presenter so that a test can put it back.
    Presenter set_presenter(Presenter presenter);

private:
    ErrorBox();
    Presenter presenter_;
    std::set<QString> open_;
};

// Runs fn(), showing any exception in the error box.
void run_guarded(const std::function<void()>& fn);

// Wraps a handler so that it can be connected to a Qt signal safely.
template <class F>
auto guarded(F fn)
{
    return [fn = std::move(fn)](auto&&... args) {
        run_guarded([&] { fn(std::forward<decltype(args)>(args)...); });
    };
}
