// One floater (or, in state 2, a control particle held by the user), and the list
// that keeps them. An owning list deletes the particles it drops; a shared one
// (snapshots, query results) only refers to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "geo/Vertex.h"

class FastRepulsion;

class Particle {
public:
    enum State : std::uint8_t { Moving = 0, Stable = 1, Control = 2 };

    Particle() = default;
    // Copies every member but the grid link: a copy is in no cell until inserted.
    Particle(const Particle& other);
    Particle& operator=(const Particle& other);

    geo::Vertex position;
    geo::Vertex repulsionVelocity;  // D; for a control particle, its last drag displacement
    geo::Vertex velocity;           // P, D held to the surface
    geo::Vertex normal;             // unit field gradient, zero where the gradient is zero
    double radiusRate = 0.0;        // sigma dot
    double radius = 0.0;            // sigma, the repulsion radius
    double energy = 0.0;            // E from the last force pass
    std::uint8_t state = Moving;
    // The field's gradient where it stands is too weak for the surface constraint to move
    // it (set by each advance): it can never reach the surface and is no part of the sample.
    bool stranded = false;

    // The field at a position, as the system last evaluated it for this floater: advance
    // evaluates it at the new position, and the population control and the next step's
    // constraint, which need it at the same position, take it from here instead of
    // summing the blobs again. Valid while the position is bit for bit `at` and the
    // system's field version is still `version` (ImplicitSurface::fieldAt).
    struct FieldSample {
        geo::Vertex at;
        geo::Vertex gradient;
        double value = 0.0;
        std::uint64_t version = 0;  // 0: never evaluated
    };
    FieldSample field;

private:
    friend class FastRepulsion;
    // The neighbour grid's bookkeeping; only the grid reads or writes it. The chains are
    // linked both ways so that a floater leaves its chain without a walk along it, and a
    // filed floater knows its grid and cell, so that inserting it twice or removing it
    // from a cell it is not in is refused without a walk either.
    Particle* nextInCell = nullptr;
    Particle* previousInCell = nullptr;
    const FastRepulsion* filedIn = nullptr;
    int filedCell = -1;
};

// Allocates like std::allocator but, as the program's lists do, ends the process with
// exit status 1 when memory runs out instead of throwing.
template <typename T>
struct ListAllocator {
    using value_type = T;
    ListAllocator() = default;
    template <typename U>
    ListAllocator(const ListAllocator<U>&) {}
    T* allocate(std::size_t n) {
        void* memory = ::operator new(n * sizeof(T), std::nothrow);
        if (!memory) std::exit(1);
        return static_cast<T*>(memory);
    }
    void deallocate(T* memory, std::size_t) { ::operator delete(memory); }
    template <typename U>
    bool operator==(const ListAllocator<U>&) const {
        return true;
    }
    template <typename U>
    bool operator!=(const ListAllocator<U>&) const {
        return false;
    }
};

// The particles are held in one array in list order, with a single cursor that walks it
// as the program's list walks its nodes: `first` and `next` step through the entries,
// `at` puts the cursor just after the entry it returns, and appending, removing,
// clearing or retaining ends any walk. A call that finds no entry leaves the cursor be.
class ParticleList {
public:
    using Entries = std::vector<Particle*, ListAllocator<Particle*>>;

    explicit ParticleList(bool shared) : shared(shared) {}
    ~ParticleList() { clear(); }
    ParticleList(const ParticleList&) = delete;
    ParticleList& operator=(const ParticleList&) = delete;

    bool isShared() const { return shared; }
    Particle* first() { return at(0); }
    Particle* next() { return cursor < 0 ? nullptr : at(cursor); }
    Particle* at(int index) {
        if (index < 0 || index >= size()) return nullptr;
        cursor = index + 1 < size() ? index + 1 : -1;
        return items[static_cast<std::size_t>(index)];
    }
    int size() const { return static_cast<int>(items.size()); }
    void append(Particle* particle) {
        items.push_back(particle);
        cursor = -1;
    }
    // The particles in list order: a pass that changes neither the list nor its walk can
    // go through them without the cursor, and ask for the records ahead. Valid until the
    // list changes.
    const Entries& inOrder() const { return items; }
    Particle* createParticle(const geo::Vertex& position, double radius);
    // Removes the first entry that is `particle` (by identity); an owning list deletes it.
    bool remove(Particle* particle);
    void clear();
    // Keeps, in order, the particles for which `keep` is true and drops the others (an
    // owning list deletes them), in one pass. `keep` sees every particle once, in order,
    // and must not change this list. Ends any walk of the list.
    template <typename Keep>
    void retain(Keep keep);
    // A new shared list with the same particles in the same order; the caller deletes it.
    ParticleList* snapshot() const;
    // What is wrong with the list, or "" when nothing is: an entry that is null or holds a
    // particle twice, or a cursor beyond the entries. Leaves the cursor be.
    std::string integrityFault() const;

private:
    Entries items;
    bool shared;
    int cursor = -1;  // index of the entry `next` returns, or -1 for none
};

// A hint to the cache, no effect on any value: fetch the lines of a particle's record
// that a pass is about to read or write. Records lie where they were made, which after
// many splits and deaths is far from list or grid order.
inline void prefetchParticle(const Particle* p) {
    const char* bytes = reinterpret_cast<const char*>(p);
    for (std::size_t line = 0; line < sizeof(Particle); line += 64)
        __builtin_prefetch(bytes + line, 1);
}

template <typename Keep>
void ParticleList::retain(Keep keep) {
    const std::size_t n = items.size();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        Particle* p = items[i];
        if (keep(p))
            items[kept++] = p;
        else if (!shared)
            delete p;  // only its entry remains, and that is dropped below
    }
    items.resize(kept);
    cursor = -1;
}
