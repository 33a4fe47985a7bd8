// Growable arrays: fixed-size items in one contiguous block that grows by a
// fixed number of items and never shrinks.
#pragma once
#include <cstdint>

#include "markhound/support/memory.h"

// Compares a search key with an item; 0 means equal.
using ItemCompare = int (*)(const void* key, const void* item);

class ItemArray : public HeapObject {
public:
    // With item_size 0 the array stays unset until Init is called.
    ItemArray(uint32_t item_size, uint32_t initial, uint32_t grow_by);
    virtual ~ItemArray();
    ItemArray(const ItemArray&) = delete;
    ItemArray& operator=(const ItemArray&) = delete;

    void Init(uint32_t item_size, uint32_t initial, uint32_t grow_by);
    // Makes room for n items: when n reaches capacity, capacity becomes
    // n + grow_by. When memory runs out the block and capacity stay as they were.
    void Reserve(uint32_t n);
    // Appends a copy of item_size bytes from src (zeros for a null src) and
    // gives its address; null, with nothing added, when no room can be made.
    void* Add(const void* src);
    void Clear() { count_ = 0; }
    void RemoveAt(int32_t index);
    // Lowest index >= start whose item equals key (byte-wise without compare), or -1.
    int32_t Find(const void* key, int32_t start, ItemCompare compare) const;
    // Address of item index, or null when index is out of range.
    void* At(int32_t index) const;
    // Address of item index without a bounds test: index < Count().
    void* Item(int32_t index) const { return items_ + static_cast<uint32_t>(index) * item_size_; }
    int32_t Count() const { return static_cast<int32_t>(count_); }

    uint32_t ItemSize() const { return item_size_; }
    uint32_t Capacity() const { return capacity_; }
    uint32_t GrowBy() const { return grow_by_; }
    const void* Items() const { return items_; }

private:
    uint32_t item_size_ = 0;
    uint8_t* items_ = nullptr;
    uint32_t count_ = 0;
    uint32_t capacity_ = 0;
    uint32_t grow_by_ = 0;
};

// An array of plain values with overridable Clear and RemoveAt.
class ValueArray : public ItemArray {
public:
    using ItemArray::ItemArray;
    ~ValueArray() override { Clear(); }
    virtual void Clear() { ItemArray::Clear(); }
    virtual void RemoveAt(int32_t index) { ItemArray::RemoveAt(index); }
};

// The byte pattern of a signature: PatternByte items, two bytes each.
class PatternArray : public ValueArray {
public:
    static constexpr uint32_t kItemSize = 2;
    static constexpr uint32_t kInitial = 50;
    static constexpr uint32_t kGrowBy = 100;
    PatternArray() : ValueArray(kItemSize, kInitial, kGrowBy) {}
};

// Pointers to objects the list may own. What happens to a dropped object is
// decided by DisposeItem alone; the list itself never destroys anything.
class PtrArray : public ItemArray {
public:
    PtrArray(uint32_t initial, uint32_t grow_by, int32_t owns_items);
    ~PtrArray() override;

    // Stores the pointer and calls OnAdd with it; null when no slot was had.
    void* Append(void* item);
    // Removes the first occurrence of item, then disposes of it.
    void DeleteItem(void* item);
    // Disposes of every item in index order while all are still held, then empties the list.
    void DeleteAll();
    void* PtrAt(int32_t index) const { return *static_cast<void* const*>(Item(index)); }
    int32_t OwnsItems() const { return owns_items_; }

protected:
    virtual void OnAdd(void* item);
    virtual void DisposeItem(void* item, int32_t owns);

private:
    int32_t owns_items_;
};
