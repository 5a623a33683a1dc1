#pragma once
// The engine on a thread of its own. The host creates the thread and the
// engine inside it (so that its timers, its serial component and its
// database connection all belong to that thread), hands requests over as
// queued calls, and on destruction shuts the engine down, deletes it on its
// thread and joins the thread.
//
// Thread contract: the host's own functions belong to the thread that made
// it (the window's). post() never waits; call() and start() wait for the
// engine to finish the call (start-up, closing), never for the line.
// Without a thread of its own (tests) the engine lives on the host's thread
// and every call runs at once.
#include "engine.h"

#include <QThread>

#include <functional>
#include <memory>

class EngineHost {
public:
    EngineHost(const Engine::Options& options, bool own_thread = true);
    ~EngineHost();
    EngineHost(const EngineHost&) = delete;
    EngineHost& operator=(const EngineHost&) = delete;

    Engine* engine() const { return engine_; }

    // Runs Engine::start on the engine's thread and waits; rethrows what it threw.
    void start();
    // Runs fn on the engine's thread and waits; rethrows what it threw.
    void call(const std::function<void(Engine&)>& fn);
    // Queues an operator's request: fn runs on the engine's thread through
    // Engine::request, so that a refusal becomes a message.
    void post(std::function<void(Engine&)> fn, const char* source = "操作");
    // Shuts the engine down (decided windows, written queue, closed port)
    // and waits.
    void shutdown();

private:
    std::unique_ptr<QThread> thread_; // an EngineThread
    Engine* engine_ = nullptr;
};
