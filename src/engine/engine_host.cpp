#include "engine_host.h"

#include <QSemaphore>

#include <exception>

// The engine's thread: it makes the engine, runs its event loop, and deletes
// the engine when the loop ends, all on itself.
class EngineThread : public QThread {
public:
    explicit EngineThread(const Engine::Options& options)
        : options_(options)
    {
        setObjectName(QStringLiteral("engine"));
    }
    Engine* engine = nullptr;
    QSemaphore made;

protected:
    void run() override
    {
        engine = new Engine(options_);
        made.release();
        exec();
        delete engine;
        engine = nullptr;
    }

private:
    const Engine::Options options_;
};

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
    thread->made.acquire();
    engine_ = thread->engine;
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
    std::exception_ptr failure;
    auto run = [&] {
        try {
            fn(*engine_);
        } catch (...) {
            failure = std::current_exception();
        }
    };
    if (thread_)
        QMetaObject::invokeMethod(engine_, run, Qt::BlockingQueuedConnection);
    else
        run();
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
    QMetaObject::invokeMethod(engine, [engine, fn = std::move(fn), source] {
        engine->request([&] { fn(*engine); }, source);
    });
}

void EngineHost::shutdown()
{
    call([](Engine& e) { e.shutdown(); });
}
