#include <gtest/gtest.h>

#include "geo/QList.h"

namespace {

int a = 1, b = 2, c = 3, d = 4;

void fill(geo::QList& list) {
    list.append(&a);
    list.append(&b);
    list.append(&c);
}

}  // namespace

TEST(QList, AppendReturnsIndexOfNewEntry) {
    geo::QList list;
    EXPECT_EQ(list.append(&a), 0);
    list.append(&b);
    list.append(&c);
    EXPECT_EQ(list.append(&d), 3);
    EXPECT_EQ(list.count(), 4);
}

TEST(QList, WalksForwardAndBackwardInInsertionOrder) {
    geo::QList list;
    fill(list);
    EXPECT_EQ(list.first(), &a);
    EXPECT_EQ(list.next(), &b);
    EXPECT_EQ(list.next(), &c);
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(list.last(), &c);
    EXPECT_EQ(list.previous(), &b);
    EXPECT_EQ(list.previous(), &a);
    EXPECT_EQ(list.previous(), nullptr);
}

TEST(QList, EmptyListWalksNothing) {
    geo::QList list;
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.last(), nullptr);
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(list.at(0), nullptr);
    EXPECT_FALSE(list.removeAt(0));
}

// Later code relies on this: a pass that appends while walking must walk a snapshot.
TEST(QList, AppendDuringWalkEndsTheWalk) {
    geo::QList list;
    fill(list);
    EXPECT_EQ(list.first(), &a);
    list.append(&d);
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(list.count(), 4);
}

TEST(QList, RemoveDuringWalkEndsTheWalk) {
    geo::QList list;
    fill(list);
    EXPECT_EQ(list.first(), &a);
    EXPECT_TRUE(list.removeAt(2));
    EXPECT_EQ(list.next(), nullptr);
    // A failed removal resets the cursor too.
    EXPECT_EQ(list.first(), &a);
    EXPECT_FALSE(list.removeAt(7));
    EXPECT_EQ(list.next(), nullptr);
}

TEST(QList, NestedWalkOrAtRedirectsTheOuterWalk) {
    geo::QList list;
    fill(list);
    EXPECT_EQ(list.first(), &a);
    // An inner walk to the end leaves the cursor past the last entry.
    EXPECT_EQ(list.first(), &a);
    EXPECT_EQ(list.next(), &b);
    EXPECT_EQ(list.next(), &c);
    EXPECT_EQ(list.next(), nullptr);

    EXPECT_EQ(list.first(), &a);
    EXPECT_EQ(list.at(1), &b);  // the cursor now sits around b
    EXPECT_EQ(list.next(), &c);
    EXPECT_EQ(list.at(2), &c);
    EXPECT_EQ(list.previous(), &b);
}

TEST(QList, AtAndRemoveAtRejectIndicesOutsideTheList) {
    geo::QList list;
    fill(list);
    EXPECT_EQ(list.at(-1), nullptr);
    EXPECT_EQ(list.at(3), nullptr);
    EXPECT_EQ(list.at(2), &c);
    EXPECT_FALSE(list.removeAt(3));
    EXPECT_FALSE(list.removeAt(-1));
    EXPECT_EQ(list.count(), 3);
}

TEST(QList, RemovingTheTailRelinksAppend) {
    geo::QList list;
    fill(list);
    EXPECT_TRUE(list.removeAt(2));
    EXPECT_EQ(list.last(), &b);
    EXPECT_EQ(list.append(&d), 2);
    EXPECT_EQ(list.first(), &a);
    EXPECT_EQ(list.next(), &b);
    EXPECT_EQ(list.next(), &d);
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(list.last(), &d);
    EXPECT_EQ(list.previous(), &b);
}

TEST(QList, RemovingHeadAndMiddleKeepsBothDirectionsLinked) {
    geo::QList list;
    fill(list);
    list.append(&d);
    EXPECT_TRUE(list.removeAt(0));  // head
    EXPECT_TRUE(list.removeAt(1));  // c, in the middle
    EXPECT_EQ(list.count(), 2);
    EXPECT_EQ(list.first(), &b);
    EXPECT_EQ(list.next(), &d);
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(list.last(), &d);
    EXPECT_EQ(list.previous(), &b);
    EXPECT_EQ(list.previous(), nullptr);
    list.clear();
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(list.first(), nullptr);
    EXPECT_EQ(list.append(&a), 0);
}

// A null entry ends every walk there: the reason no list ever stores null.
TEST(QList, NullEntryEndsTheWalk) {
    geo::QList list;
    list.append(&a);
    list.append(nullptr);
    list.append(&c);
    EXPECT_EQ(list.first(), &a);
    EXPECT_EQ(list.next(), nullptr);
    EXPECT_EQ(list.count(), 3);
}
