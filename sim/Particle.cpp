#include "sim/Particle.h"

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
