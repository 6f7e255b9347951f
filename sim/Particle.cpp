#include "sim/Particle.h"

#include <unordered_set>

Particle::Particle(const Particle& other) {
    *this = other;
}

Particle& Particle::operator=(const Particle& other) {
    position = other.position;
    repulsionVelocity = other.repulsionVelocity;
    velocity = other.velocity;
    normal = other.normal;
    radiusRate = other.radiusRate;
    radius = other.radius;
    energy = other.energy;
    state = other.state;
    stranded = other.stranded;
    field = other.field;
    // The grid's links stay: the copy belongs to no chain of the particle it was copied from.
    return *this;
}

Particle* ParticleList::createParticle(const geo::Vertex& position, double radius) {
    Particle* particle = new Particle;
    particle->position = position;
    particle->radius = radius;
    append(particle);
    return particle;
}

bool ParticleList::remove(Particle* particle) {
    int index = 0;
    for (Particle* p = first(); p; p = next(), ++index) {
        if (p != particle) continue;
        items.erase(items.begin() + index);
        cursor = -1;
        if (!shared) delete particle;
        return true;
    }
    return false;
}

void ParticleList::clear() {
    if (!shared)
        for (Particle* p : items) delete p;
    items.clear();
    cursor = -1;
}

ParticleList* ParticleList::snapshot() const {
    ParticleList* copy = new ParticleList(true);
    copy->items = items;
    return copy;
}

std::string ParticleList::integrityFault() const {
    if (cursor < -1 || cursor >= size())
        return "the cursor is at entry " + std::to_string(cursor) + " of " + std::to_string(size());
    std::unordered_set<const Particle*> seen;
    seen.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (!items[i]) return "entry " + std::to_string(i) + " is null";
        // An owning list would delete the particle twice.
        if (!seen.insert(items[i]).second)
            return "entry " + std::to_string(i) + " holds a particle already listed";
    }
    return "";
}
