// Externals table: kinds with release callbacks, entries on two index lists.
#include "runtime/externals.hpp"

#include "runtime/runtime.hpp"

namespace zuv::externals {

namespace {

struct Kind {
    uint32_t tag;
    Release release;
};

Kind* kinds = nullptr;
int32_t kind_count = 0;
Entry* entries = nullptr;
int32_t entry_count = 0;
int32_t free_first = -1;
int32_t used_first = -1;

// Links entries [first, end) into one free chain ending at tail_next.
void chain_free(int32_t first, int32_t end, int32_t tail_next) {
    for (int32_t i = first; i < end; i++) {
        entries[i].flags = ENTRY_FREE;
        entries[i].object = nullptr;
        entries[i].next = i + 1 < end ? i + 1 : tail_next;
    }
}

bool used_q(int32_t index) {
    return index >= 0 && index < entry_count && entries[index].flags != ENTRY_FREE;
}

void unlink_used(int32_t index) {
    for (int32_t* link = &used_first; *link != -1; link = &entries[*link].next) {
        if (*link == index) {
            *link = entries[index].next;
            return;
        }
    }
}

void push_free(int32_t index) {
    entries[index].flags = ENTRY_FREE;
    entries[index].object = nullptr;
    entries[index].next = free_first;
    free_first = index;
}

}  // namespace

void init() {
    kinds = static_cast<Kind*>(runtime::allocate_zeroed(sizeof(Kind) * MAX_KINDS));
    kind_count = 0;
    entries = static_cast<Entry*>(runtime::allocate_memory(sizeof(Entry) * INITIAL_ENTRIES));
    entry_count = INITIAL_ENTRIES;
    chain_free(0, entry_count, -1);
    free_first = 0;
    used_first = -1;
}

int32_t register_kind(uint32_t tag, Release release) {
    if (kind_count == MAX_KINDS) return 0;
    kinds[kind_count] = {tag, release};
    return ++kind_count;
}

int32_t store(void* object, int32_t kind) {
    int32_t index = free_first;
    if (entries[index].next == -1) {
        // The last free entry: double the table and chain the new entries after it.
        int32_t old_count = entry_count;
        entries = static_cast<Entry*>(runtime::reallocate_memory(entries, sizeof(Entry) * size_t(old_count) * 2));
        entry_count = old_count * 2;
        chain_free(old_count, entry_count, -1);
        entries[index].next = old_count;
    }
    free_first = entries[index].next;
    entries[index].flags = uint32_t(kind) & ENTRY_KIND_MASK;
    entries[index].object = object;
    entries[index].next = used_first;
    used_first = index;
    return index;
}

int32_t remove(int32_t index, bool release_q) {
    if (!used_q(index)) return -1;
    if (release_q) release(entries[index].flags, entries[index].object);
    unlink_used(index);
    push_free(index);
    return -1;
}

bool mark(int32_t index, void* object) {
    if (!used_q(index)) return false;
    Entry& e = entries[index];
    if (object) e.object = object;
    if (e.flags & ENTRY_MARK) return false;
    e.flags |= ENTRY_MARK;
    return true;
}

void release(uint32_t flags, void* object) {
    int32_t kind = int32_t(flags & ENTRY_KIND_MASK);
    if (kind == 0 || kind > kind_count || !kinds[kind - 1].release) return;
    kinds[kind - 1].release(object);
}

void replace_object(int32_t index, void* object) {
    if (!used_q(index)) return;
    void* old = entries[index].object;
    entries[index].object = object;
    if (old != object) release(entries[index].flags, old);
}

void for_each(int32_t kind, void (*fn)(void* object)) {
    for (int32_t i = used_first; i != -1; i = entries[i].next)
        if (int32_t(entries[i].flags & ENTRY_KIND_MASK) == kind) fn(entries[i].object);
}

void sweep() {
    int32_t* link = &used_first;
    while (*link != -1) {
        int32_t i = *link;
        Entry& e = entries[i];
        if (e.flags & ENTRY_MARK) {
            e.flags &= ~ENTRY_MARK;
            link = &e.next;
            continue;
        }
        *link = e.next;
        release(e.flags, e.object);
        push_free(i);
    }
}

const Entry* entry_at(int32_t index) {
    return index >= 0 && index < entry_count ? &entries[index] : nullptr;
}

int32_t capacity() { return entry_count; }

}  // namespace zuv::externals
