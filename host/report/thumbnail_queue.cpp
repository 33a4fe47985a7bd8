// The gallery's records with their thumbnails made on a thread of their own.
#include "host/report/thumbnail_queue.h"

#include <utility>

ThumbnailQueue::ThumbnailQueue(MakeFn make) : make_(std::move(make)), thread_([this] { Work(); }) {}

ThumbnailQueue::~ThumbnailQueue() {
    Finish(true);
    {
        std::lock_guard<std::mutex> hold(mutex_);
        quit_ = true;
    }
    wanted_.notify_all();
    thread_.join();
}

void ThumbnailQueue::Add(const uint8_t* bytes, uint64_t size, std::string extension, std::string path,
                         std::string with, std::string without) {
    auto entry = std::make_shared<Entry>();
    entry->bytes = bytes;
    entry->size = size;
    entry->extension = std::move(extension);
    entry->path = std::move(path);
    entry->with = std::move(with);
    entry->without = std::move(without);
    {
        std::lock_guard<std::mutex> hold(mutex_);
        order_.push_back(entry);
        work_.push_back(std::move(entry));
    }
    wanted_.notify_one();
}

void ThumbnailQueue::Add(std::string record) {
    auto entry = std::make_shared<Entry>();
    entry->done = true;
    entry->record = std::move(record);
    std::lock_guard<std::mutex> hold(mutex_);
    order_.push_back(std::move(entry));
}

std::vector<std::string> ThumbnailQueue::Ready() {
    std::vector<std::string> ready;
    std::lock_guard<std::mutex> hold(mutex_);
    while (!order_.empty() && order_.front()->done) {
        ready.push_back(std::move(order_.front()->record));
        order_.pop_front();
    }
    return ready;
}

void ThumbnailQueue::Finish(bool give_up) {
    std::unique_lock<std::mutex> hold(mutex_);
    if (give_up) {
        for (const std::shared_ptr<Entry>& entry : work_) {
            entry->record = std::move(entry->without);
            entry->done = true;
        }
        work_.clear();
    }
    made_.wait(hold, [this] { return work_.empty() && !busy_; });
}

void ThumbnailQueue::Work() {
    std::unique_lock<std::mutex> hold(mutex_);
    for (;;) {
        wanted_.wait(hold, [this] { return quit_ || !work_.empty(); });
        if (work_.empty()) return;
        std::shared_ptr<Entry> entry = std::move(work_.front());
        work_.pop_front();
        busy_ = true;
        hold.unlock();
        const bool made = make_(entry->bytes, entry->size, entry->extension, entry->path);
        hold.lock();
        entry->record = std::move(made ? entry->with : entry->without);
        entry->done = true;
        busy_ = false;
        made_.notify_all();
    }
}
