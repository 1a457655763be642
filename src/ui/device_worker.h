// The device worker: one thread that runs device operations one at a time, so that
// the window's thread never waits on the serial line.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tarsel::ui {

class DeviceWorker {
public:
    DeviceWorker();
    ~DeviceWorker(); // shutdown(): waits for the running job
    DeviceWorker(const DeviceWorker&) = delete;
    DeviceWorker& operator=(const DeviceWorker&) = delete;

    // Queues a job; jobs run in order, one at a time. An exception thrown by a job
    // is caught and reported through `onError` (on the worker thread).
    void post(std::function<void()> job);
    // Called on the worker thread with the text of an exception that escaped a job.
    std::function<void(const char*)> onError;

    // Drops the queued jobs, waits until the running one returns and ends the
    // thread. Returns false when the running job had not returned within timeoutMs
    // (the thread is then left running and joined by the destructor).
    bool shutdown(int timeoutMs = -1);

    // True while a job runs or waits in the queue.
    bool busy() const;
    // True on the worker thread itself.
    bool isWorkerThread() const { return std::this_thread::get_id() == m_thread.get_id(); }

private:
    void run();

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<std::function<void()>> m_queue;
    bool m_running = false;
    bool m_stop = false;
    std::thread m_thread;
};

} // namespace tarsel::ui
