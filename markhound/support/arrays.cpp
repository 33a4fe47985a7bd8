// Growable arrays: growth rule, search, removal and the pointer list's hooks.
#include "markhound/support/arrays.h"

#include <cstring>

ItemArray::ItemArray(uint32_t item_size, uint32_t initial, uint32_t grow_by) {
    if (item_size != 0) Init(item_size, initial, grow_by);
}

ItemArray::~ItemArray() {
    MemFree(items_);
    items_ = nullptr;
}

void ItemArray::Init(uint32_t item_size, uint32_t initial, uint32_t grow_by) {
    item_size_ = item_size;
    grow_by_ = grow_by;
    count_ = 0;
    if (initial != 0) Reserve(initial);
}

void ItemArray::Reserve(uint32_t n) {
    if (n < capacity_) return;
    uint32_t capacity = n + grow_by_;
    if (capacity < n || item_size_ == 0) return;  // no room can be counted
    if (capacity > SIZE_MAX / item_size_) return;
    void* block = MemRealloc(items_, static_cast<std::size_t>(capacity) * item_size_);
    if (block == nullptr) return;  // out of memory: the old block stays valid
    items_ = static_cast<uint8_t*>(block);
    capacity_ = capacity;
}

void* ItemArray::Add(const void* src) {
    Reserve(count_ + 1);
    if (count_ >= capacity_) return nullptr;
    uint8_t* slot = items_ + static_cast<std::size_t>(count_) * item_size_;
    if (src != nullptr) {
        std::memcpy(slot, src, item_size_);
    } else {
        std::memset(slot, 0, item_size_);
    }
    ++count_;
    return slot;
}

void ItemArray::RemoveAt(int32_t index) {
    uint32_t i = static_cast<uint32_t>(index);
    if (i >= count_) return;
    --count_;
    MemMove(items_ + static_cast<std::size_t>(i) * item_size_,
            items_ + static_cast<std::size_t>(i + 1) * item_size_,
            static_cast<std::size_t>(count_ - i) * item_size_);
}

int32_t ItemArray::Find(const void* key, int32_t start, ItemCompare compare) const {
    for (uint32_t i = static_cast<uint32_t>(start); i < count_; ++i) {
        const uint8_t* item = items_ + static_cast<std::size_t>(i) * item_size_;
        // compare may change the array; count_ and item_size_ are read anew each step.
        bool equal = compare == nullptr ? std::memcmp(key, item, item_size_) == 0
                                        : compare(key, item) == 0;
        if (equal) return static_cast<int32_t>(i);
    }
    return -1;
}

void* ItemArray::At(int32_t index) const {
    if (static_cast<uint32_t>(index) >= count_) return nullptr;
    return Item(index);
}

PtrArray::PtrArray(uint32_t initial, uint32_t grow_by, int32_t owns_items)
    : ItemArray(sizeof(void*), initial, grow_by), owns_items_(owns_items) {}

PtrArray::~PtrArray() { DeleteAll(); }

void* PtrArray::Append(void* item) {
    void* slot = Add(&item);
    if (slot == nullptr) return nullptr;
    void* stored = *static_cast<void**>(slot);
    OnAdd(stored);
    return stored;
}

void PtrArray::DeleteItem(void* item) {
    int32_t index = Find(&item, 0, nullptr);
    void* slot = At(index);
    if (slot == nullptr) return;
    void* stored = *static_cast<void**>(slot);
    RemoveAt(index);  // removed before it is disposed of
    DisposeItem(stored, owns_items_ != 0 ? 1 : 0);
}

void PtrArray::DeleteAll() {
    for (int32_t i = 0; i < Count(); ++i) DisposeItem(PtrAt(i), owns_items_);
    Clear();
}

void PtrArray::OnAdd(void*) {}

void PtrArray::DisposeItem(void*, int32_t) {}
