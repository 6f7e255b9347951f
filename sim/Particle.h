// One floater (or, in state 2, a control particle held by the user), and the list
// that keeps them. An owning list deletes the particles it drops; a shared one
// (snapshots, query results) only refers to them.
#pragma once

#include <cstdint>

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
    void append(Particle* particle) { items->append(particle); }
    Particle* createParticle(const geo::Vertex& position, double radius);
    // Removes the first entry that is `particle` (by identity); an owning list deletes it.
    bool remove(Particle* particle);
    void clear();
    // Keeps, in order, the particles for which `keep` is true and drops the others (an
    // owning list deletes them), in one pass. `keep` sees every particle once, in order.
    template <typename Keep>
    void retain(Keep keep);
    // A new shared list with the same particles in the same order; the caller deletes it.
    ParticleList* snapshot() const;

private:
    geo::QList* items;
    bool shared;
};

template <typename Keep>
void ParticleList::retain(Keep keep) {
    geo::QList* kept = new geo::QList;
    for (Particle* p = first(); p; p = next()) {
        if (keep(p))
            kept->append(p);
        else if (!shared)
            delete p;
    }
    delete items;
    items = kept;
}
