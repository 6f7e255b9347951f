#include "sim/ImplicitSurface.h"

#include <cmath>
#include <cstring>
#include <ctime>
#include <unordered_set>

ImplicitSurface::ImplicitSurface(char blobKind, double isoValue)
    : blobs(blobKind),
      isoValue(isoValue),
      desiredEnergy(std::exp(-2.0) * 6.0 * repulsionAmplitude),
      lengthScale(lengthDivisor),
      random(static_cast<std::uint32_t>(std::time(nullptr))) {
    // Until the first force pass measures the floaters, the range matches the cell size
    // closely enough (between 0.7 and 1.0 cells) that the first adapt keeps the cells.
    grid.interactionRange = 0.85 * grid.getCellSize();
    setDensity(1.0);
}

// No member refers to another while it is destroyed (the grid only frees its cells),
// so the members' own order of destruction is safe.
ImplicitSurface::~ImplicitSurface() = default;

void ImplicitSurface::seedRandom(std::uint32_t seed) { random.seed(seed); }

void ImplicitSurface::fieldAndGradient(const geo::Vertex& x, double& value,
                                       geo::Vertex& gradient) {
    value = fieldValue(x);
    gradient = fieldGradient(x);
}

double ImplicitSurface::parameterGradientDot(const geo::Vertex& x, const geo::DVector& v) {
    return parameterGradient(x).dot(v);
}

// A field that keeps nothing derived from the model changes exactly when the model does.
std::uint64_t ImplicitSurface::fieldVersion() { return blobs.changes() + 1; }

const Particle::FieldSample& ImplicitSurface::fieldAt(Particle* floater, std::uint64_t version) {
    Particle::FieldSample& sample = floater->field;
    // Bit for bit: -0 and +0 compare equal but may give gradients of different sign bits.
    if (sample.version != version ||
        std::memcmp(&sample.at, &floater->position, sizeof sample.at) != 0) {
        fieldAndGradient(floater->position, sample.value, sample.gradient);
        sample.at = floater->position;
        sample.version = version;
    }
    return sample;
}

int ImplicitSurface::threadCount() const { return threads > 0 ? threads : defaultThreadCount(); }

void ImplicitSurface::forEachChunk(int count, int grain,
                                   const std::function<void(int, int, int)>& work) {
    const int wanted = count > grain ? threadCount() : 1;
    if (wanted > 1 && (!pool || pool->size() != wanted)) pool = std::make_unique<WorkerPool>(wanted);
    if (wanted > 1) {
        pool->run(count, grain, work);
    } else {
        for (int begin = 0; begin < count; begin += grain)
            work(begin, count - begin > grain ? begin + grain : count, 0);
    }
}

double ImplicitSurface::setDensity(double density) {
    const double previous = desiredRadius;
    desiredRadius = 0.25 * lengthScale * density;
    const double floor = 0.5 * lengthScale;
    const double scaled = 1.5 * desiredRadius;
    maxRadius = floor >= scaled ? floor : scaled;
    // A floater with six neighbours at twice its radius has dE/dsigma = 4 E^ / sigma. Below
    // sigma = 4 E^ / beta that term outweighs the damping, and every radius then follows
    // the slightest jitter of its neighbours: a fine sample keeps about a tenth of its
    // floaters failing the radius-rate test and is never found stable. So the damping is
    // kept at 4 E^ / sigma^ or more, which makes both terms equal at the desired radius;
    // for the examples at densities of 2 and above, where sigma^ exceeds 4 E^ / beta, it is
    // beta itself.
    const double floorDamping = 4.0 * desiredEnergy / desiredRadius;
    appliedRadiusDamping =
        desiredRadius > 0.0 && floorDamping > radiusDamping && std::isfinite(floorDamping)
            ? floorDamping
            : radiusDamping;
    return previous;
}

bool ImplicitSurface::isStable() {
    const int n = particles.size();
    if (n < 6 * blobs.count()) return false;
    if (n == 0) return false;  // an empty model with no floaters has no stable share
    // A step in which floaters split or died is no verdict: early on, a thin population
    // spreading from its seeds can pass the per-floater test for one step in clusters,
    // at a small fraction of the requested density.
    if (populationChanged) return false;
    return static_cast<double>(stableCount) / n >= stableFraction;
}

Particle* ImplicitSurface::addControlParticle(Particle* particle) {
    if (controlParticles.size() == parameterCount()) return nullptr;
    controlParticles.append(particle);
    return particle;
}

void ImplicitSurface::releaseControlParticles() { controlParticles.clear(); }

bool ImplicitSurface::triangulate() {
    if (!reconstruct.buildNodes(&particles)) return false;
    meshCurrent = true;
    return reconstruct.triangulate();
}

void ImplicitSurface::discardMesh() {
    meshCurrent = false;
    if (reconstruct.triangleCount() != 0) reconstruct.clearTriangles();
}

void ImplicitSurface::adaptGrid() {
    const double domain = lengthScale * lengthDivisor;
    // A sample whose extent or radii overflowed must not size the cells to infinity.
    if (!std::isfinite(domain) || !std::isfinite(grid.interactionRange)) return;
    grid.adapt(domain, grid.interactionRange);
}

std::string ImplicitSurface::invariantFault() {
    std::string fault = particles.integrityFault();
    if (!fault.empty()) return "the floater list: " + fault;
    fault = controlParticles.integrityFault();
    if (!fault.empty()) return "the control particle list: " + fault;
    // Both lists own their particles: one in both would be deleted twice.
    const std::unordered_set<const Particle*> floaters(particles.inOrder().begin(),
                                                       particles.inOrder().end());
    for (const Particle* p : controlParticles.inOrder())
        if (floaters.count(p)) return "a control particle is also in the floater list";
    if (!grid.holdsExactly(particles))
        return "the grid does not file exactly the floaters of the list, each once in the cell "
               "of its position (a floater moved or deleted behind the grid's back)";
    if (stableCount < 0) return "the stable count is " + std::to_string(stableCount);
    if (controlParticles.size() > parameterCount())
        return std::to_string(controlParticles.size()) + " control particles for " +
               std::to_string(parameterCount()) + " parameters";
    return "";
}
