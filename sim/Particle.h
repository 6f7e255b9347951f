// One floater (or, in state 2, a control particle held by the user), and the list
// that keeps them. An owning list deletes the particles it drops; a shared one
// (snapshots, query results) only refers to them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "geo/QList.h"
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

private:
    friend class FastRepulsion;
    Particle* nextInCell = nullptr;  // chain link of the neighbour grid; only the grid uses it
};

class ParticleList {
public:
    explicit ParticleList(bool shared);
    ~ParticleList();
    ParticleList(const ParticleList&) = delete;
    ParticleList& operator=(const ParticleList&) = delete;

    bool isShared() const { return shared; }
    Particle* first() { return static_cast<Particle*>(items->first()); }
    Particle* next() { return static_cast<Particle*>(items->next()); }
    Particle* at(int index) { return static_cast<Particle*>(items->at(index)); }
    int size() const { return items->count(); }
    void append(Particle* particle) {
        items->append(particle);
        order.push_back(particle);
    }
    // The particles in list order, as one array: a pass that changes neither the list nor
    // its cursor's walk can go through it without chasing the list's nodes, and can ask
    // for the records ahead. Valid until the list changes.
    const std::vector<Particle*>& inOrder() const { return order; }
    Particle* createParticle(const geo::Vertex& position, double radius);
    // Removes the first entry that is `particle` (by identity); an owning list deletes it.
    bool remove(Particle* particle);
    void clear();
    // Keeps, in order, the particles for which `keep` is true and drops the others (an
    // owning list deletes them), in one pass. `keep` sees every particle once, in order.
    // Ends any walk of the list.
    template <typename Keep>
    void retain(Keep keep);
    // A new shared list with the same particles in the same order; the caller deletes it.
    ParticleList* snapshot() const;

private:
    geo::QList* items;
    bool shared;
    // The same particles as `items`, in the same order; every change goes to both.
    std::vector<Particle*> order;
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
    // How many particles ahead the records are fetched while `keep` works on one.
    constexpr std::size_t ahead = 4;
    const std::size_t n = order.size();
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (i + ahead < n) prefetchParticle(order[i + ahead]);
        Particle* p = order[i];
        if (keep(p))
            order[kept++] = p;
        else if (!shared)
            delete p;  // only its entry remains, and that is dropped below
    }
    if (kept == n) {
        items->last();  // the cursor past the end, as after a rebuild: no walk goes on
        return;
    }
    order.resize(kept);
    // Refilling the emptied list reuses the nodes it just freed, so they stay together
    // in memory instead of being spread anew over the heap every pass.
    items->clear();
    for (Particle* p : order) items->append(p);
}
