#include "ui/device_worker.h"

#include <chrono>
#include <exception>

namespace tarsel::ui {

DeviceWorker::DeviceWorker() : m_thread([this] { run(); }) {}

DeviceWorker::~DeviceWorker()
{
    shutdown(-1);
    if (m_thread.joinable())
        m_thread.join();
}

void DeviceWorker::post(std::function<void()> job)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_stop)
            return;
        m_queue.push_back(std::move(job));
    }
    m_wake.notify_one();
}

bool DeviceWorker::busy() const
{
    std::lock_guard lock(m_mutex);
    return m_running || !m_queue.empty();
}

bool DeviceWorker::shutdown(int timeoutMs)
{
    {
        std::unique_lock lock(m_mutex);
        m_stop = true;
        m_queue.clear();
        m_wake.notify_all();
        auto done = [this] { return !m_running; };
        if (timeoutMs < 0)
            m_idle.wait(lock, done);
        else if (!m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs), done))
            return false;
    }
    if (m_thread.joinable() && !isWorkerThread())
        m_thread.join();
    return true;
}

void DeviceWorker::run()
{
    for (;;) {
        std::function<void()> job;
        {
            std::unique_lock lock(m_mutex);
            m_wake.wait(lock, [this] { return m_stop || !m_queue.empty(); });
            if (m_stop)
                return;
            job = std::move(m_queue.front());
            m_queue.pop_front();
            m_running = true;
        }
        try {
            job();
        } catch (const std::exception& e) {
            if (onError)
                onError(e.what());
        } catch (...) {
            if (onError)
                onError("unknown exception");
        }
        {
            std::lock_guard lock(m_mutex);
            m_running = false;
        }
        m_idle.notify_all();
    }
}

} // namespace tarsel::ui
