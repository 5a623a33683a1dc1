#include "engine_host.h"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <mutex>

// Qt's queue hands a call from one thread to the other under locks the
// thread sanitizer cannot see (Qt is not built with it). The hand-offs below
// state the same ordering in code it sees: a mutex and condition variable
// for the calls that wait, a release/acquire pair for the queued ones.

// The engine's thread: it makes the engine, runs its event loop, and deletes
// the engine when the loop ends, all on itself.
class EngineThread : public QThread {
public:
    explicit EngineThread(const Engine::Options& options)
        : options_(options)
    {
        setObjectName(QStringLiteral("engine"));
    }

    // Waits until run() has made the engine.
    Engine* wait_for_engine()
    {
        std::unique_lock<std::mutex> lock(mu_);
        made_.wait(lock, [this] { return engine_ != nullptr; });
        return engine_;
    }

protected:
    void run() override
    {
        {
            const std::lock_guard<std::mutex> lock(mu_);
            engine_ = new Engine(options_);
            made_.notify_all();
        }
        exec();
        delete engine_;
    }

private:
    const Engine::Options options_;
    std::mutex mu_;
    std::condition_variable made_;
    Engine* engine_ = nullptr;
};

namespace {

std::atomic<unsigned long> handed_over { 0 };

} // namespace

EngineHost::EngineHost(const Engine::Options& options, bool own_thread)
{
    register_engine_reports();
    if (!own_thread) {
        engine_ = new Engine(options);
        return;
    }
    auto* thread = new EngineThread(options);
    thread_.reset(thread);
    thread->start();
    engine_ = thread->wait_for_engine();
}

EngineHost::~EngineHost()
{
    if (!thread_) {
        delete engine_;
        return;
    }
    shutdown();
    thread_->quit();
    thread_->wait();
    engine_ = nullptr;
}

void EngineHost::call(const std::function<void(Engine&)>& fn)
{
    if (!thread_) {
        fn(*engine_);
        return;
    }
    std::mutex mu;
    std::condition_variable finished;
    bool done = false;
    std::exception_ptr failure;
    Engine* engine = engine_;
    handed_over.fetch_add(1, std::memory_order_release);
    QMetaObject::invokeMethod(engine, [&, engine] {
        (void)handed_over.load(std::memory_order_acquire);
        try {
            fn(*engine);
        } catch (...) {
            failure = std::current_exception();
        }
        // Told under the lock: once the caller sees `done`, nothing here
        // touches its stack any more.
        const std::lock_guard<std::mutex> lock(mu);
        done = true;
        finished.notify_all();
    });
    std::unique_lock<std::mutex> lock(mu);
    finished.wait(lock, [&] { return done; });
    lock.unlock();
    if (failure)
        std::rethrow_exception(failure);
}

void EngineHost::start()
{
    call([](Engine& e) { e.start(); });
}

void EngineHost::post(std::function<void(Engine&)> fn, const char* source)
{
    Engine* engine = engine_;
    handed_over.fetch_add(1, std::memory_order_release);
    QMetaObject::invokeMethod(engine, [engine, fn = std::move(fn), source] {
        (void)handed_over.load(std::memory_order_acquire);
        engine->request([&] { fn(*engine); }, source);
    });
}

void EngineHost::shutdown()
{
    call([](Engine& e) { e.shutdown(); });
}
