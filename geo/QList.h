// Doubly linked list of untyped pointers with its walking cursor kept inside the list.
// One walk at a time: appending or removing resets the cursor and ends a walk early,
// and any other walk or `at` on the same list redirects it. The list never owns its data.
#pragma once

namespace geo {

class QList {
public:
    QList() = default;
    ~QList();
    QList(const QList&) = delete;
    QList& operator=(const QList&) = delete;

    int count() const { return count_; }
    // Returns the index of the new entry; resets the cursor. Ends the process with
    // outOfMemory when no node can be allocated.
    int append(void* data);
    void* first();
    void* last();
    void* next();
    void* previous();
    // Walks from the head; null for an index outside 0..count-1.
    void* at(int index);
    // Frees the node (never its data); false for an index outside 0..count-1.
    // Resets the cursor in every case.
    bool removeAt(int index);
    void clear();

private:
    struct Node {
        void* data;
        Node* next;
        Node* previous;
    };

    void* settle(Node* node);
    void resetCursor() {
        cursorNext = nullptr;
        cursorPrevious = nullptr;
    }

    Node* head = nullptr;
    Node* tail = nullptr;
    Node* cursorNext = nullptr;
    Node* cursorPrevious = nullptr;
    int count_ = 0;
};

}  // namespace geo
