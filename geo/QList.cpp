#include "geo/QList.h"

#include <new>

#include "geo/OutOfMemory.h"

namespace geo {

QList::~QList() { clear(); }

int QList::append(void* data) {
    Node* node = new (std::nothrow) Node{data, nullptr, tail};
    if (!node) outOfMemory();
    if (tail)
        tail->next = node;
    else
        head = node;
    tail = node;
    resetCursor();
    return count_++;
}

// Puts the cursor around `node` and returns its data (null for no node).
void* QList::settle(Node* node) {
    if (!node) return nullptr;
    cursorNext = node->next;
    cursorPrevious = node->previous;
    return node->data;
}

void* QList::first() { return settle(head); }
void* QList::last() { return settle(tail); }
void* QList::next() { return settle(cursorNext); }
void* QList::previous() { return settle(cursorPrevious); }

void* QList::at(int index) {
    if (index < 0 || index >= count_) return nullptr;
    Node* node = head;
    for (int i = 0; i < index; ++i) node = node->next;
    return settle(node);
}

bool QList::removeAt(int index) {
    resetCursor();
    if (index < 0 || index >= count_) return false;
    Node* node = head;
    for (int i = 0; i < index; ++i) node = node->next;
    if (node == head)
        head = node->next;
    else
        node->previous->next = node->next;
    if (node == tail)
        tail = node->previous;
    else
        node->next->previous = node->previous;
    delete node;
    --count_;
    return true;
}

void QList::clear() {
    // Unlinking from the head one by one is what removeAt(0) does, without the walk.
    while (head) {
        Node* node = head;
        head = node->next;
        delete node;
    }
    tail = nullptr;
    count_ = 0;
    resetCursor();
}

}  // namespace geo
