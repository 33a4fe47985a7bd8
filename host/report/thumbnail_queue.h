// The gallery's records of one input, with the thumbnails of its pictures
// made on a thread of their own: decoding a picture does not hold up the
// report of the items behind it. Records leave in the order they came, each
// once its thumbnail is made or given up.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class ThumbnailQueue {
public:
    // Makes the thumbnail of the picture in bytes[0, size) and writes it;
    // true when written. Called on the queue's thread.
    using MakeFn = std::function<bool(const uint8_t* bytes, uint64_t size, const std::string& extension,
                                      const std::string& path)>;

    explicit ThumbnailQueue(MakeFn make);
    // Gives up the thumbnails not yet made (their records go without).
    ~ThumbnailQueue();
    ThumbnailQueue(const ThumbnailQueue&) = delete;
    ThumbnailQueue& operator=(const ThumbnailQueue&) = delete;

    // A picture: with its thumbnail made, with leaves; otherwise without.
    void Add(const uint8_t* bytes, uint64_t size, std::string extension, std::string path, std::string with,
             std::string without);
    // An item without a thumbnail.
    void Add(std::string record);
    // The records whose turn has come, in order.
    std::vector<std::string> Ready();
    // Waits for every thumbnail asked for; give_up: makes no more of them.
    void Finish(bool give_up);

private:
    struct Entry {
        const uint8_t* bytes = nullptr;
        uint64_t size = 0;
        std::string extension, path, with, without;
        bool done = false;
        std::string record;
    };
    void Work();

    MakeFn make_;
    std::mutex mutex_;
    std::condition_variable wanted_, made_;
    std::deque<std::shared_ptr<Entry>> order_;  // every record, in order
    std::deque<std::shared_ptr<Entry>> work_;   // the thumbnails still to make
    bool busy_ = false;
    bool quit_ = false;
    std::thread thread_;
};
